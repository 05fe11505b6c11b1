#!/usr/bin/env bash
# Runs every example command of README.md and vexum(1), in the order they
# are written, and checks that each does what an example must: exit status 0
# and a report, nothing on standard error.
#
#   doc_examples.sh SOURCE_DIR VEXUM_BINARY SAMPLE_MEDIA_DIR
#
# The commands run in a scratch folder under TMPDIR that holds what they
# name: samples/sample.bus, build/vexum and build/samples/ as in a checkout,
# disk.img (the sample disk), and the package's examples folder. A command
# that would scan the machine's own SCSI buses scans a stand-in for it
# instead (-bus is added): the sample bus with a second adapter and the
# sample disk at target 3 of both. An iSCSI portal is replaced by a closed
# port on this machine, which must read as "no unit" after one line on
# standard error. The machine's own drives may be missing or closed to this
# user: a -disk example may print nothing but such lines.
# Exit 0 passed, 1 failed.
set -uo pipefail

src=$1 vexum=$2 media=$3
export LC_ALL=C
failures=0 count=0

work=$(mktemp -d "${TMPDIR:-/tmp}/vexum-examples-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/samples" "$work/build/samples" "$work/examples"
cp "$src/samples/sample.bus" "$work/samples/"
cp "$src/samples/sample.bus" "$work/examples/"
ln -s "$vexum" "$work/build/vexum"
for image in sample-disk.img sample-floppy.img sample-towns.img; do
    ln -s "$media/$image" "$work/build/samples/$image"
    ln -s "$media/$image" "$work/examples/$image"
done
ln -s "$media/sample-disk.img" "$work/disk.img"
# The containers the examples name, made from the sample disk: an HDI
# written here from its published header, a VHDX and a split EWF image by
# qemu-img and ewfacquire where they are installed. An example that names
# one that could not be made, or one whose library this build lacks, is
# skipped and says so.
le32() {
    printf "$(printf '\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
disk_size=$(stat -c %s "$media/sample-disk.img")
{
    # reserved, drive type, header size, data size, sector size, sectors,
    # heads, cylinders; the header padded to its 4,096 bytes
    for field in 0 0 4096 "$disk_size" 512 32 8 $((disk_size / (512 * 32 * 8))); do le32 "$field"; done
    head -c $((4096 - 32)) /dev/zero
    cat "$media/sample-disk.img"
} >"$work/disk.hdi"
unmade=()
qemu-img convert -f raw -O vhdx "$media/sample-disk.img" "$work/disk.vhdx" >/dev/null 2>&1 ||
    unmade+=(disk.vhdx)
ewfacquire -u -q -c none -S 1MiB -t "$work/case" "$media/sample-disk.img" >/dev/null 2>&1 ||
    unmade+=(case.E01)
disk=$(awk '/^unit / { u = ($2 == "0:0:0") } u' "$src/samples/sample.bus")
{
    sed 's/^adapters 1$/adapters 2/' "$src/samples/sample.bus"
    printf 'adapter 1\n  identity "SECOND HBA"\n'
    sed 's/^unit 0:0:0/unit 0:3:0/' <<<"$disk"
    sed 's/^unit 0:0:0/unit 1:3:0/' <<<"$disk"
} >"$work/machine.bus"

# The example commands: README code lines (the part of a line after its last
# "&&" that starts the tool) and the lines of the manual page's examples.
commands() {
    sed -n 's/^    \(.*&& \)\{0,1\}\(\(build\/\)\{0,1\}vexum\( .*\)\{0,1\}\)$/\2/p' "$src/README.md" |
        grep -v '\[<' | sed 's/  *#.*$//'
    # (A line that starts "vexum:" is a message the page shows, not a command.)
    awk '/^\.EX/ { e = 1; next } /^\.EE/ { e = 0 } e && /^vexum( |$)/' "$src/man/vexum.1" | sed 's/\\-/-/g'
}

# The build has iSCSI when a portal text is accepted.
has_iscsi=1
"$vexum" -iscsi 'bad portal' 2>&1 | grep -q 'no iSCSI support' && has_iscsi=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

while IFS= read -r line; do
    [ -n "$line" ] || continue
    read -r -a words <<<"$line"
    args=() images=() letters="" trace=""
    iscsi=0 bus=0
    for ((i = 1; i < ${#words[@]}; i++)); do
        word=${words[i]//\/usr\/share\/doc\/vexum\/examples/$work/examples}
        case ${words[i - 1]},$word in
        -image,*) images+=("$word") ;;
        -trace,*) trace=$word ;;
        -bus,* | -iscsi,* | *,-bus) bus=1 ;;
        *,-scsi | *,-disk | *,-image | *,-trace | *,-iscsi) ;;
        *,-*) letters+=${word#-} ;;
        esac
        if [ "${words[i - 1]}" = -iscsi ]; then
            iscsi=$((iscsi + 1))
            case $word in
            iscsi://*) word=$(sed -E 's#^(iscsi://([^@/]*@)?)[^/]*#\1127.0.0.1:1#' <<<"$word") ;;
            *) word=127.0.0.1:1 ;;
            esac
        fi
        args+=("$word")
    done
    if [ "$iscsi" -gt 0 ] && [ "$has_iscsi" = 0 ]; then
        echo "SKIPPED (a build without iSCSI): $line"
        continue
    fi
    missing=""
    for image in "${images[@]}"; do
        for name in "${unmade[@]}"; do
            [ "$image" = "$name" ] && missing=$name
        done
    done
    if [ -n "$missing" ]; then
        echo "SKIPPED (the tool that makes $missing is not installed): $line"
        continue
    fi
    [ "$iscsi" -gt 0 ] || [ "$bus" = 1 ] || args+=(-bus "$work/machine.bus")
    count=$((count + 1))
    echo "example: $line"
    echo "   runs: vexum ${args[*]}"
    (cd "$work" && "$vexum" "${args[@]}" >"$work/out" 2>"$work/err")
    status=$?
    if [ "$status" = 2 ] && grep -q '^vexum: .* images need lib[a-z]*, which ' "$work/err"; then
        echo "SKIPPED ($(cat "$work/err")): $line"
        count=$((count - 1))
        continue
    fi
    [ "$status" = 0 ] || fail "exit status $status: $line"
    if [ "$iscsi" -gt 0 ]; then
        # The adapter line of each portal; one line per portal on standard
        # error (for the portal, or for the target a URL names), and nothing
        # else.
        [ "$(grep -c '^Host adapter' "$work/out")" = "$iscsi" ] || fail "not one adapter per portal: $line"
        refused=$(grep -c '^vexum: iSCSI .* 127\.0\.0\.1:1: cannot connect' "$work/err")
        [ "$refused" = "$iscsi" ] && [ "$(wc -l <"$work/err")" = "$iscsi" ] ||
            fail "standard error is not one line per closed portal: $line"
    elif grep -q -- '-disk' <<<"$line"; then
        grep -v '^vexum: /dev/[^:]*: cannot open the drive (' "$work/err" && fail "standard error: $line"
    else
        [ -s "$work/out" ] || fail "no report: $line"
        [ -s "$work/err" ] && fail "standard error: $line"
    fi
    # What the words promise: a heading per image, a trace, and the lines of
    # each option letter where the report reached a medium or a unit.
    for image in "${images[@]}"; do
        grep -qxF "Disk:$image" "$work/out" || fail "no heading Disk:$image: $line"
        case $image in
        disk.hdi | disk.vhdx | case.E01)
            grep -A1 -xF "Disk:$image" "$work/out" | grep -q '^  Image: ' || fail "no Image: line for $image: $line"
            ;;
        esac
    done
    if [ -n "$trace" ]; then
        grep -q '^unit ' "$work/$trace" 2>/dev/null || fail "no trace in $trace: $line"
    fi
    promise() { # letter, a line the report must hold when it holds the other
        case $letters in *$1*) ;; *) return ;; esac
        grep -q -- "$3" "$work/out" && ! grep -q -- "$2" "$work/out" && fail "-$1 printed no '$2': $line"
    }
    promise d 'DRP:\|W32:' ')ID:\|^Disk:'
    promise p 'Partition start' 'HARD DISK FORMAT'
    promise o '^sector 0' 'FORMAT'
    promise l ')ID:4-1' ')ID:4-0'
    sed 's/^/   err: /' "$work/err"
done < <(commands)

# The README and the manual page between them show at least these.
[ "$count" -ge 15 ] || fail "only $count example commands found"
echo "$count example commands run, $failures failed"
[ "$failures" = 0 ]
