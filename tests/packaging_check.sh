#!/usr/bin/env bash
# Checks of the manual pages, the install tree and the Debian package, run by
# CTest (see packaging/packaging.cmake):
#
#   packaging_check.sh CHECK SOURCE_DIR BUILD_DIR WORK_DIR VEXUM_BINARY VERSION
#
# CHECK is one of man_pages, usage_words, install, build_package,
# package_contents, lintian. Exit 0 passed, 1 failed, 77 skipped (a tool the
# check needs is missing; the reason is printed).
set -uo pipefail

check=$1 src=$2 build=$3 work=$4 vexum=$5 version=$6
export LC_ALL=C.UTF-8 MANWIDTH=80 MAN_DISABLE_SECCOMP=1
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

need() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIPPED: $tool is not installed (Debian package: $(package_of "$tool"))"
            exit 77
        fi
    done
}

package_of() {
    case $1 in
    groff) echo groff ;;
    man) echo man-db ;;
    dpkg-deb) echo dpkg ;;
    dpkg-shlibdeps) echo dpkg-dev ;;
    readelf) echo binutils ;;
    *) echo "$1" ;;
    esac
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$check: $failures check(s) failed"
        exit 1
    fi
    echo "$check: passed"
    exit 0
}

# The page rendered as plain text on very long lines, so that no entry is
# wrapped or hyphenated.
render() {
    case $1 in
    *.gz) gzip -dc "$1" ;;
    *) cat "$1" ;;
    esac | groff -man -Tascii -rLL=250n -P-c -P-b -P-u -P-o 2>/dev/null
}

# man -l must render the page without a single warning.
check_man_renders() {
    local page=$1 err text
    err=$(mktemp)
    text=$(man --warnings -l "$page" 2>"$err")
    if [ -s "$err" ]; then
        fail "man -l $page warns:"
        cat "$err"
    fi
    rm -f "$err"
    if ! grep -q '^NAME' <<<"$text"; then
        fail "man -l $page rendered no NAME section"
    fi
}

# Runs BINARY -? and checks what the usage request must give: exit status 1
# and the banner on standard output; and BINARY --version, which must name
# the version being packaged.
check_usage_run() {
    local binary=$1 out status
    out=$("$binary" '-?' 2>/dev/null)
    status=$?
    [ "$status" -eq 1 ] || fail "$binary -? exited with $status, not 1"
    grep -q 'vexum version' <<<"$out" || fail "$binary -? printed no usage banner"
    out=$("$binary" --version 2>&1)
    status=$?
    [ "$status" -eq 0 ] || fail "$binary --version exited with $status, not 0"
    [ "$out" = "vexum $version" ] || fail "$binary --version printed '$out', not 'vexum $version'"
}

# The copyright file: machine-readable, the whole tree under the license of
# LICENSE, its text word for word.
check_copyright() {
    local file=$1 text
    [ "$(head -n1 "$file")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
        fail "$file is not in the machine-readable format"
    grep -qx 'Files: \*' "$file" || fail "$file has no paragraph for every file"
    grep -qx 'License: Expat' "$file" || fail "$file names no Expat (MIT) license"
    grep -qE '^Upstream-Contact: [^<>]+ <[^@<> ]+@[^@<> ]+>$' "$file" || fail "$file has no Upstream-Contact"
    # The license paragraph's text, continuation lines unfolded.
    text=$(awk '/^License: Expat$/ { n++; next } n == 2 && /^ / { sub(/^ /, ""); if ($0 == ".") $0 = ""; print }' "$file")
    [ "$text" = "$(sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE")" ] ||
        fail "the license text of $file differs from LICENSE"
}

# The installed examples work from any folder and print what the sample bus
# and the sample media of the build print: check_examples BINARY EXAMPLES_DIR
check_examples() {
    local binary=$1 examples=$2 got want
    got=$(cd / && "$binary" -bus "$examples/sample.bus" -l -dp 2>&1) || fail "$binary -bus $examples/sample.bus failed"
    want=$("$vexum" -bus "$src/samples/sample.bus" -l -dp 2>&1)
    [ "$got" = "$want" ] || fail "the installed sample bus prints another report than samples/sample.bus"
    grep -q 'IBM HARD DISK FORMAT' <<<"$got" || fail "the installed sample bus shows no partition table"
    for image in sample-disk.img sample-floppy.img sample-towns.img; do
        got=$(cd / && "$binary" -image "$examples/$image" -dp 2>&1 | tail -n +3)
        want=$("$vexum" -image "$build/samples/$image" -dp 2>&1 | tail -n +3)
        [ -n "$got" ] && [ "$got" = "$want" ] || fail "the installed $image prints another report than the build's"
    done
}

# The files an install of vexum holds, relative to its root.
expected_tree() {
    local prefix=$1
    printf '%s\n' \
        "$prefix/bin/vexum" \
        "$prefix/share/bash-completion/completions/vexum" \
        "$prefix/share/doc/vexum/changelog.gz" \
        "$prefix/share/doc/vexum/copyright" \
        "$prefix/share/doc/vexum/examples/sample-disk.img" \
        "$prefix/share/doc/vexum/examples/sample-floppy.img" \
        "$prefix/share/doc/vexum/examples/sample-towns.img" \
        "$prefix/share/doc/vexum/examples/sample.bus" \
        "$prefix/share/doc/vexum/json.md" \
        "$prefix/share/doc/vexum/vexum.schema.json" \
        "$prefix/share/man/man1/vexum.1.gz" \
        "$prefix/share/man/man5/vexum-bus.5.gz"
}

the_package() {
    local debs=("$work"/deb/*.deb)
    if [ ! -f "${debs[0]}" ]; then
        echo "FAIL: no package in $work/deb (packaging.build_package failed?)"
        exit 1
    fi
    if [ "${#debs[@]}" -ne 1 ]; then
        echo "FAIL: ${#debs[@]} packages in $work/deb, expected one"
        exit 1
    fi
    echo "${debs[0]}"
}

case $check in
man_pages)
    need groff man
    for page in "$src"/man/vexum.1 "$src"/man/vexum-bus.5; do
        warnings=$(groff -ww -z -man "$page" 2>&1)
        [ -z "$warnings" ] || fail "groff -ww warns on $page: $warnings"
        check_man_renders "$page"
        grep -q "^\.TH .*\"vexum $version\"" "$page" || fail "$page: the .TH line does not name vexum $version"
    done
    # Pages named in SEE ALSO that belong to vexum must exist.
    for ref in $(grep -ho '^\.BR vexum[^ ]* ([0-9])' "$src"/man/* | sed 's/^\.BR //; s/\\-/-/g; s/ (\([0-9]\))/.\1/'); do
        [ -f "$src/man/$ref" ] || fail "a page refers to $ref, which does not exist"
    done
    for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS 'EXTENSION WORDS' 'DRIVES AND ADAPTERS' \
        SAFETY 'EXIT STATUS' FILES EXAMPLES 'SEE ALSO'; do
        grep -q "^\.SH \"\?$section\"\?$" "$src/man/vexum.1" || fail "vexum.1 has no $section section"
    done
    finish
    ;;

usage_words)
    # Every word the usage text offers must have its own entry in vexum(1),
    # and so must those the program accepts without listing them there.
    need groff
    usage=$("$vexum" '-?' 2>/dev/null)
    status=$?
    [ "$status" -eq 1 ] || fail "vexum -? exited with $status, not 1"
    words=$(sed -n 's/^[[:space:]]\{1,\}-\([A-Za-z]\{1,\}\).*/\1/p' <<<"$usage")
    count=$(wc -w <<<"$words")
    if [ "$count" -lt 4 ]; then
        fail "the usage text names $count words; expected at least -scsi, -l, -d, -p"
        echo "usage text was:"
        echo "$usage"
    fi
    page=$(render "$src/man/vexum.1")
    for word in $words disk o '?'; do
        pattern="^ {7}-$(sed 's/?/[?]/' <<<"$word")( |$)"
        grep -qE "$pattern" <<<"$page" || fail "vexum.1 has no entry for -$word"
    done
    echo "words from the usage text: $(tr '\n' ' ' <<<"$words")"
    finish
    ;;

install)
    need cmake man
    prefix=$work/install
    rm -rf "$prefix"
    if ! cmake --install "$build" --prefix "$prefix" >"$work.install.log" 2>&1; then
        cat "$work.install.log"
        fail "cmake --install failed"
        finish
    fi
    actual=$(find "$prefix" -type f -o -type l | sort)
    expected=$(expected_tree "$prefix" | sort)
    if [ "$actual" != "$expected" ]; then
        fail "the install tree differs from the expected one"
        diff <(echo "$expected") <(echo "$actual")
    fi
    [ -x "$prefix/bin/vexum" ] && check_usage_run "$prefix/bin/vexum" &&
        check_examples "$prefix/bin/vexum" "$prefix/share/doc/vexum/examples"
    check_copyright "$prefix/share/doc/vexum/copyright"
    for page in vexum.1 vexum-bus.5; do
        installed=$(find "$prefix/share/man" -name "$page.gz")
        [ -n "$installed" ] || continue
        cmp -s <(gzip -dc "$installed") "$src/man/$page" || fail "$installed is not the current $page"
        check_man_renders "$installed"
    done
    finish
    ;;

build_package)
    need cpack dpkg-deb dpkg-shlibdeps file
    rm -rf "$work/deb"
    mkdir -p "$work/deb"
    if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/deb.log" 2>&1; then
        cat "$work/deb.log"
        fail "cpack -G DEB failed"
    fi
    rm -rf "$work/deb/_CPack_Packages"
    ls -l "$work"/deb/*.deb 2>/dev/null || fail "cpack made no .deb"
    finish
    ;;

package_contents)
    need dpkg-deb dpkg man file readelf
    deb=$(the_package) || { echo "$deb"; exit 1; }
    echo "package: $deb"
    dpkg-deb -I "$deb"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = vexum ] || fail "Package is '$(field Package)'"
    [ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
    [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
    [ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
    grep -qE '^[^<>]+ <[^@<> ]+@[^@<> ]+>$' <<<"$(field Maintainer)" || fail "Maintainer '$(field Maintainer)' has no name and address"
    description=$(field Description)
    [ "$(head -n1 <<<"$description" | wc -c)" -gt 10 ] || fail "the Description has no summary line"
    [ "$(wc -l <<<"$description")" -gt 2 ] || fail "the Description has no long description"
    # Depends comes from dpkg-shlibdeps: the package of every shared library
    # the binary needs must be named in it (a static build needs none).
    depends=$(field Depends)
    needed=$(readelf -d "$vexum" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
    # The owner is looked up by the path the loader really uses: a pattern
    # alone can name another architecture's copy (libc6-i386's libm.so.6).
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || true)
    for lib in $needed; do
        path=$(ldd "$vexum" 2>/dev/null | awk -v l="$lib" '$1 == l { print $3 }')
        owner=""
        [ -n "$path" ] && owner=$(dpkg -S "$path" 2>/dev/null | head -n1 | cut -d: -f1)
        [ -n "$owner" ] || owner=$(dpkg -S "*/$multiarch/$lib" 2>/dev/null | head -n1 | cut -d: -f1)
        [ -n "$owner" ] || owner=$(dpkg -S "*/$lib" 2>/dev/null | head -n1 | cut -d: -f1)
        if [ -z "$owner" ]; then
            fail "no Debian package holds $lib, which the binary needs"
        elif ! tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$owner"; then
            fail "the binary needs $lib of $owner; Depends '$depends' lacks it"
        fi
    done
    echo "Depends: $depends"
    # A build with iSCSI loads libiscsi at run time: the package recommends
    # the package that holds it.
    if ! "$vexum" -iscsi 'no portal' 2>&1 | grep -q 'no iSCSI support'; then
        recommends=$(field Recommends)
        holder=""
        for p in $(tr ',|' '\n\n' <<<"$recommends" | awk '{ print $1 }'); do
            dpkg -L "$p" 2>/dev/null | grep -q '/libiscsi\.so\.[0-9]*$' && holder=$p
        done
        [ -n "$holder" ] || fail "Recommends '$recommends' names no package holding libiscsi"
        echo "Recommends: $recommends"
    fi

    listing=$(dpkg-deb -c "$deb")
    files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sed 's|^\./||' | sort)
    expected=$(expected_tree usr | sort)
    if [ "$files" != "$expected" ]; then
        fail "the package holds other files than expected"
        diff <(echo "$expected") <(echo "$files")
    fi
    awk '$2 != "root/root" { bad = 1; print "not owned by root: " $0 } END { exit bad }' <<<"$listing" ||
        fail "files in the package not owned by root"

    root=$work/root
    rm -rf "$root"
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
    packaged=$root/usr/bin/vexum
    if [ -x "$packaged" ]; then
        check_usage_run "$packaged"
        check_examples "$packaged" "$root/usr/share/doc/vexum/examples"
        cmp -s <("$packaged" '-?' 2>&1) <("$vexum" '-?' 2>&1) ||
            fail "the packaged vexum prints another usage text than the one just built"
        file "$packaged" | grep -q ', stripped' || fail "the packaged binary is not stripped: $(file "$packaged")"
    else
        fail "no executable usr/bin/vexum in the package"
    fi
    for page in man1/vexum.1.gz man5/vexum-bus.5.gz; do
        [ -f "$root/usr/share/man/$page" ] && check_man_renders "$root/usr/share/man/$page"
    done
    check_copyright "$root/usr/share/doc/vexum/copyright"
    [ "$(sed -n 's/^Upstream-Contact: //p' "$root/usr/share/doc/vexum/copyright")" = "$(field Maintainer)" ] ||
        fail "the copyright file's contact is not the Maintainer"
    finish
    ;;

lintian)
    need lintian
    deb=$(the_package) || { echo "$deb"; exit 1; }
    # Errors fail the check, and so does any tag about the copyright file
    # or the license; other warnings are listed.
    tags=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1)
    status=$?
    grep -v 'running with root privileges' <<<"$tags"
    [ "$status" -eq 0 ] || fail "lintian reports errors (exit status $status)"
    if grep -E '^[EW]: ' <<<"$tags" | grep -qiE 'copyright|licen[cs]e|dep5'; then
        fail "lintian has something to say about the copyright file"
    fi
    finish
    ;;

*)
    echo "unknown check: $check"
    exit 1
    ;;
esac
