#!/usr/bin/env python3
"""Runs vexum with -json over bus files and images and validates every
document against docs/vexum.schema.json with a JSON Schema validator; with
--jq, runs the jq examples of docs/json.md over the sample bus and images.

  json_schema_check.py VEXUM SOURCE_DIR SAMPLES_DIR [--jq]

Exit code 77 (a skip for CTest) when python3-jsonschema or jq is missing.
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def run(vexum, args):
    done = subprocess.run([vexum] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def main():
    vexum, source, samples = sys.argv[1:4]
    jq_examples = "--jq" in sys.argv[4:]
    try:
        import jsonschema
    except ImportError:
        print("python3-jsonschema is not installed")
        return 77
    with open(os.path.join(source, "docs", "vexum.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    if jq_examples:
        return check_jq(vexum, source, samples)

    fixtures = os.path.join(source, "tests", "fixtures")
    buses = sorted(glob.glob(os.path.join(fixtures, "**", "*.bus"), recursive=True))
    buses.append(os.path.join(source, "samples", "sample.bus"))
    images = sorted(glob.glob(os.path.join(samples, "*.img")))
    runs = []
    for bus in buses:
        for options in ("-l", "-l -dpo"):
            runs.append(["-bus", bus] + options.split() + ["-json"])
    # The hostile fixtures, the containers among them, and the sample disk in
    # the containers qemu-img and ewfacquire make, where they are installed.
    images += sorted(glob.glob(os.path.join(fixtures, "**", "*.img"), recursive=True))
    containers = tempfile.mkdtemp(prefix="vexum-json-containers-")
    images += make_containers(os.path.join(samples, "sample-disk.img"), containers)
    for image in images:
        runs.append(["-image", image, "-dpo", "-json"])
    runs.append(["-bus", "/nonexistent/missing.bus", "-json"])
    runs.append(["-json", "-image"])

    failures = 0
    # The expected documents of the JSON twins, written out beside their
    # bus files, hold what the schema allows: with the members every run
    # adds of its own, each must validate as it stands.
    twins = sorted(glob.glob(os.path.join(fixtures, "**", "*.json"), recursive=True))
    twins += sorted(glob.glob(os.path.join(source, "samples", "*.json")))
    for path in twins:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
        document.setdefault("format_version", [1, 0])
        document.setdefault("program", {"name": "vexum", "version": "0", "argv": ["vexum"]})
        errors = list(validator.iter_errors(document))
        for e in errors[:5]:
            print("invalid expected document:", os.path.relpath(path, source), e.json_path, e.message[:200])
        failures += bool(errors)

    for args in runs:
        code, out, err = run(vexum, args)
        try:
            document = json.loads(out)
        except ValueError as e:
            print("not JSON:", " ".join(args), e)
            failures += 1
            continue
        errors = list(validator.iter_errors(document))
        for e in errors[:5]:
            print("invalid:", " ".join(args), e.json_path, e.message[:200])
        failures += bool(errors)
        if document.get("exit_code") != code:
            print("exit code", code, "but the document says", document.get("exit_code"), ":", " ".join(args))
            failures += 1
        lines = [l for l in err.split("\n") if l]
        if document.get("diagnostics") != lines:
            print("diagnostics differ from standard error:", " ".join(args))
            failures += 1
    shutil.rmtree(containers, ignore_errors=True)
    print(len(runs), "documents and", len(twins), "expected documents,", failures, "failed")
    return 1 if failures else 0


def make_containers(disk, folder):
    """The disk in each container a tool here makes; their paths."""
    made = []
    if shutil.which("qemu-img"):
        for name, options in (("disk.vhd", ["-O", "vpc"]), ("fixed.vhd", ["-O", "vpc", "-o", "subformat=fixed"]),
                              ("disk.vhdx", ["-O", "vhdx"]), ("disk.vmdk", ["-O", "vmdk"]),
                              ("disk.qcow2", ["-O", "qcow2"])):
            path = os.path.join(folder, name)
            if subprocess.run(["qemu-img", "convert", "-f", "raw"] + options + [disk, path]).returncode == 0:
                made.append(path)
    if shutil.which("ewfacquire"):
        base = os.path.join(folder, "disk")
        if subprocess.run(["ewfacquire", "-u", "-q", "-S", "1MiB", "-t", base, disk], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            made.append(base + ".E01")
    return made


def check_jq(vexum, source, samples):
    """The jq programs of docs/json.md, each over a run that has what it
    picks out, each expected to pick out what that run holds."""
    if shutil.which("jq") is None:
        print("jq is not installed")
        return 77
    with open(os.path.join(source, "docs", "json.md"), encoding="utf-8") as f:
        programs = re.findall(r"\| jq -c '([^']*)'", f.read())
    bus = os.path.join(source, "samples", "sample.bus")
    disk = os.path.join(samples, "sample-disk.img")
    vpd = os.path.join(source, "tests", "fixtures", "detail", "vpd.bus")
    cases = [
        (["-bus", bus, "-dp", "-scsi", "-image", disk, "-json"],
         [{"path": disk, "adapter": None, "target": None, "lun": None, "size_bytes": 10485760},
          {"path": None, "adapter": 0, "target": 0, "lun": 0, "size_bytes": 10485760}]),
        (["-image", disk, "-p", "-json"],
         [{"label": "SAMPLE DISK", "serial": "1A2B-3C4D"}, {"label": "LOGICAL ONE", "serial": "0BAD-1DEA"}]),
        (["-bus", vpd, "-l", "-d", "-json"],
         [{"adapter": 0, "target": 0, "lun": 2, "vendor": "VEXUM", "product": "VPD"},
          {"adapter": 0, "target": 1, "lun": 1, "vendor": "VEXUM", "product": "VPD"}]),
    ]
    if len(programs) != len(cases):
        print("docs/json.md has", len(programs), "jq examples; the check knows", len(cases))
        return 1
    failures = 0
    for program, (args, expected) in zip(programs, cases):
        _, out, _ = run(vexum, args)
        done = subprocess.run(["jq", "-c", program], input=out.encode("utf-8"), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        got = [json.loads(line) for line in done.stdout.decode("utf-8").splitlines() if line]
        if done.returncode != 0 or got != expected:
            print("jq", program, "over", " ".join(args), "gave", got, "expected", expected)
            failures += 1
    print(len(cases), "jq examples,", failures, "failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
