#!/usr/bin/env python3
"""Checks the include structure of src/: no file outside src/main/ includes
a header of src/main/ (the driver hands down what a report needs), and the
folders of src/ include one another without a cycle.

  include_check.py SOURCE_DIR
  include_check.py --self-test

Each folder is the directory that holds a file (src/scsi/modepages/ is a
folder of its own). Prints every offending include with its file and line;
exit code 1 when there is one.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_edges(src):
    """(from folder, to folder) -> [(file, line number)] for every quoted
    include of a header inside src/."""
    edges = {}
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                continue
            path = os.path.join(root, name)
            folder = os.path.relpath(root, src).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or not os.path.isfile(os.path.join(src, m.group(1))):
                        continue
                    target = os.path.dirname(m.group(1))
                    where = (os.path.relpath(path, os.path.dirname(src)).replace(os.sep, "/"), number)
                    edges.setdefault((folder, target), []).append(where)
    return edges


def find_cycle(edges):
    """One cycle of the folder graph as a list of folders, first repeated
    last; None when there is none."""
    graph = {}
    for a, b in edges:
        if a != b:
            graph.setdefault(a, set()).add(b)
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def self_test():
    """The check over a small tree with one include of src/main/ from
    outside it and one cycle of three folders: both must be found."""
    import tempfile
    files = {
        "main/run.h": "",
        "a/a.h": '#include "b/b.h"\n',
        "b/b.h": '#include "c/c.h"\n',
        "c/c.h": '#include "a/a.h"\n#include "main/run.h"\n',
        "c/c.cpp": '#include "c/c.h"\n',
    }
    with tempfile.TemporaryDirectory() as top:
        for name, text in files.items():
            path = os.path.join(top, "src", name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        edges = read_edges(os.path.join(top, "src"))
        cycle = find_cycle(edges)
        into_main = [k for k in edges if k[1] == "main"]
        ok = cycle == ["a", "b", "c", "a"] and into_main == [("c", "main")]
        os.remove(os.path.join(top, "src", "c", "c.h"))
        ok = ok and find_cycle(read_edges(os.path.join(top, "src"))) is None
    print("self test", "passed" if ok else "failed: cycle %r, includes of main %r" % (cycle, into_main))
    return 0 if ok else 1


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    src = os.path.join(sys.argv[1], "src")
    edges = read_edges(src)
    if not edges:
        print("no includes found under", src)
        return 1
    failures = 0
    for (a, b), places in sorted(edges.items()):
        if b.split("/")[0] == "main" and a.split("/")[0] != "main":
            for path, line in places:
                print("%s:%d: includes a header of src/main/" % (path, line))
                failures += 1
    cycle = find_cycle(edges)
    if cycle:
        print("include cycle between folders:", " -> ".join(cycle))
        for a, b in zip(cycle, cycle[1:]):
            path, line = edges[(a, b)][0]
            print("  %s:%d: %s includes %s" % (path, line, a, b))
        failures += 1
    print(len(edges), "folder edges,", failures, "problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
