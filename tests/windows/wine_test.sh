#!/usr/bin/env bash
# One test of the Windows build under Wine:  wine_test.sh CASE
#
# From CTest's environment:
#   VEXUM_WINE        the wrapper and its loader (wine-run wine64), the emulator of the build
#   VEXUM_EXE         vexum.exe
#   VEXUM_STANDIN     the stand-in WNASPI32.DLL
#   VEXUM_NATIVE      the native vexum whose reports vexum.exe must match (may be empty)
#   VEXUM_SOURCE_DIR  the source tree (samples/sample.bus)
# The sample media are those the native build wrote into its samples/ folder.
#   VEXUM_WORK        a scratch folder of this case
#
# vexum.exe writes its report in text mode: every line ends in CR LF. The
# comparisons check that, then set the CRs aside and compare byte for byte.
# Exit code 77 marks a case skipped (the reason on standard output).
set -euo pipefail

case_name=$1
read -r -a wine <<<"$VEXUM_WINE"
exe=$VEXUM_EXE
native=${VEXUM_NATIVE:-}
samples=$VEXUM_SOURCE_DIR/samples
media=${native:+$(dirname "$native")/samples}
work=$VEXUM_WORK
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAIL: $*"
    exit 1
}

skip() {
    echo "SKIPPED: $*"
    exit 77
}

# The loader starts this build's programs (a 32-bit build needs wine32).
need_loader() {
    local usage
    usage=$("${wine[@]}" "$exe" -? 2>"$work/loader.err" | tr -d '\r' || true)
    grep -q '^usage : vexum' <<<"$usage" ||
        skip "${wine[*]##*/} cannot run $(basename "$exe") here: $(head -c 300 "$work/loader.err")"
}

need_native() {
    [ -n "$native" ] && [ -x "$native" ] || skip "no native vexum to compare with (VEXUM_NATIVE)"
    [ -f "$media/sample-disk.img" ] || skip "the sample media are missing (build the native tree first)"
}

# Runs vexum.exe with the given arguments: standard output to $work/NAME.out
# (CRs removed, after checking that every line has one), standard error to
# $work/NAME.err (CRs removed), the exit code to $work/NAME.rc.
run_exe() {
    local name=$1
    shift
    local rc=0
    "${wine[@]}" "$@" >"$work/$name.raw" 2>"$work/$name.rawerr" || rc=$?
    echo "$rc" >"$work/$name.rc"
    if grep -q $'[^\r]$' "$work/$name.raw" || grep -q '^$' "$work/$name.raw"; then
        fail "$name: a line of standard output does not end in CR LF"
    fi
    tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
    tr -d '\r' <"$work/$name.rawerr" >"$work/$name.err"
}

expect_rc() {
    local name=$1 expected=$2
    [ "$(cat "$work/$name.rc")" = "$expected" ] || fail "$name: exit code $(cat "$work/$name.rc"), expected $expected"
}

# Compares $work/NAME.out with the file EXPECTED.
expect_report() {
    local name=$1 expected=$2
    if ! cmp -s "$expected" "$work/$name.out"; then
        diff "$expected" "$work/$name.out" | head -40 || true
        fail "$name: the report differs from $expected"
    fi
}

# The stand-in DLL beside a copy of vexum.exe, preferred to Wine's own.
use_standin() {
    mkdir -p "$work/app"
    cp "$exe" "$work/app/vexum.exe"
    cp "$VEXUM_STANDIN" "$work/app/WNASPI32.DLL"
    exe=$work/app/vexum.exe
    export WINEDLLOVERRIDES=wnaspi32=n
}

# A report of vexum.exe with the stand-in over BUS equals the native report
# of -bus BUS, for each group of arguments.
compare_bus_reports() {
    local bus=$1
    shift
    local i=0
    for arguments in "$@"; do
        i=$((i + 1))
        read -r -a args <<<"$arguments"
        "$native" -bus "$bus" "${args[@]}" >"$work/native$i.out" || fail "native run $i failed"
        VEXUM_STANDIN_BUS=$bus run_exe "report$i" "$exe" "${args[@]}"
        expect_rc "report$i" 0
        [ ! -s "$work/report$i.err" ] || fail "report$i: standard error: $(cat "$work/report$i.err")"
        expect_report "report$i" "$work/native$i.out"
        echo "same report: vexum.exe $arguments ($(wc -l <"$work/native$i.out") lines)"
    done
}

case "$case_name" in
boot)
    "${wine[@]}" --boot
    ;;

stop)
    "${wine[@]}" --stop
    ;;

no-adapter)
    # Wine's own WNASPI32 finds no SCSI adapter on this machine.
    need_loader
    run_exe none "$exe" -dp
    expect_rc none 1
    [ ! -s "$work/none.out" ] || fail "a report was printed"
    printf "Error:Can't initialize ASPI Manager.E800\nASPI manager initilize error!\n" >"$work/expected.err"
    cmp -s "$work/expected.err" "$work/none.err" || fail "standard error: $(cat "$work/none.err")"
    ;;

no-dll)
    # No WNASPI32.DLL at all: one line names it, then the two usual lines.
    need_loader
    WINEDLLOVERRIDES=wnaspi32= run_exe missing "$exe"
    expect_rc missing 1
    [ ! -s "$work/missing.out" ] || fail "a report was printed"
    [ "$(wc -l <"$work/missing.err")" = 3 ] || fail "standard error: $(cat "$work/missing.err")"
    grep -qx 'vexum: WNASPI32.DLL: cannot load the ASPI manager (Windows error [0-9]*)' \
        <(sed -n 1p "$work/missing.err") || fail "first line: $(sed -n 1p "$work/missing.err")"
    printf "Error:Can't initialize ASPI Manager.E300\nASPI manager initilize error!\n" >"$work/expected.err"
    tail -n 2 "$work/missing.err" | cmp -s "$work/expected.err" - || fail "standard error: $(cat "$work/missing.err")"
    ;;

standin-sample)
    need_loader
    need_native
    use_standin
    compare_bus_reports "$samples/sample.bus" "-dp" "-l -d -p -o" "-scsi 0:4:1" "-p -scsi 0:2"
    ;;

standin-trace)
    # A trace recorded through the Windows manager replays natively to the
    # same report: statuses, sense and data came back through the records.
    need_loader
    need_native
    use_standin
    VEXUM_STANDIN_BUS=$samples/sample.bus run_exe traced "$exe" -trace "$work/windows.bus" -l -dp
    expect_rc traced 0
    "$native" -bus "$samples/sample.bus" -l -dp >"$work/native.out"
    expect_report traced "$work/native.out"
    "$native" -bus "$work/windows.bus" -l -dp >"$work/replay.out" || fail "the trace does not replay"
    cmp -s "$work/native.out" "$work/replay.out" || fail "the replayed trace gives another report"
    ;;

standin-hang)
    # A unit that never completes INQUIRY: the wait runs out after 10 s, the
    # unit is not listed and the scan goes on; the request stays with the
    # manager. Two more units answer, one after a unit attention.
    need_loader
    need_native
    use_standin
    cat >"$work/hang.bus" <<'BUS'
adapter 0
  manager  "HANG TEST"
unit 0:1:0
  on 12 00
    hang
unit 0:2:0
  attention 1
  on 12 00
    data 01 00 02 02 1F 00 00 00
    data "VEXUM   " "ANSWERS AFTER   " "1.00"
unit 0:3:0
  on 12 00
    data 05 80 02 02 1F 00 00 00
    data "VEXUM   " "ANSWERS AT ONCE " "1.00"
BUS
    compare_bus_reports "$work/hang.bus" "-d"
    grep -q "ANSWERS AT ONCE" "$work/report1.out" || fail "the scan did not go on after the hung unit"
    ;;

physical-drive)
    # Wine opens \\.\PhysicalDrive0 through a link in the prefix. It reads
    # the file but answers no geometry, so -disk skips the drive silently;
    # opened as an image, the same device name gives the image's report.
    need_loader
    need_native
    prefix=${VEXUM_WINEPREFIX:-$PWD/wine-prefix}
    link=$prefix/dosdevices/physicaldrive0
    ln -sfn "$media/sample-disk.img" "$link"
    trap 'rm -f "$link"' EXIT
    run_exe disk "$exe" -disk 0 -dp
    expect_rc disk 0
    [ ! -s "$work/disk.out" ] && [ ! -s "$work/disk.err" ] || fail "a drive without geometry was reported"
    run_exe drive "$exe" -image '\\.\PhysicalDrive0' -dp -o
    expect_rc drive 0
    "$native" -image "$media/sample-disk.img" -dp -o | sed 's|^Disk:.*|Disk:\\\\.\\PhysicalDrive0|' >"$work/native.out"
    expect_report drive "$work/native.out"
    ;;

image)
    # Images by path, one of them with a FAT volume beyond 4 GiB (the read
    # position needs the high part).
    need_loader
    need_native
    big=$work/beyond4g.img
    truncate -s 5G "$big"
    start=8400000 # sectors; byte offset 4,300,800,000
    le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
    put() { printf "$2" | dd of="$big" bs=1 seek="$1" conv=notrunc status=none; }
    # Master boot record: one FAT16 partition of 100,000 sectors.
    put 446 "\\x00\\xfe\\xff\\xff\\x06\\xfe\\xff\\xff$(le32 $start)$(le32 100000)"
    put 510 '\x55\xaa'
    # Its boot sector.
    boot=$((start * 512))
    put "$boot" '\xeb\x3c\x90VEXUM1.0\x00\x02\x04\x01\x00\x02\x00\x02\x00\x00\xf8\x64\x00\x3f\x00\xff\x00'
    put $((boot + 28)) "$(le32 $start)$(le32 100000)\\x80\\x00\\x29\\x78\\x56\\x34\\x12BEYOND 4GB FAT16   "
    put $((boot + 510)) '\x55\xaa'
    for image in "$big" "$media/sample-floppy.img" "$media/sample-towns.img"; do
        name=$(basename "$image" .img)
        run_exe "$name" "$exe" -image "$image" -dp
        expect_rc "$name" 0
        "$native" -image "$image" -dp >"$work/$name.native"
        expect_report "$name" "$work/$name.native"
        echo "same report: vexum.exe -image $(basename "$image") -dp ($(wc -l <"$work/$name.native") lines)"
    done
    grep -q "BEYOND 4GB" "$work/beyond4g.out" || fail "the volume beyond 4 GiB was not read"
    rm -f "$big"
    ;;

containers)
    # Images in the containers read without a library (HDI, NHD, fixed VHD
    # around the sample disk; a THD of 256-byte sectors): the same reports
    # as the native build's. The Windows build has no image library: a
    # dynamic VHD names libvhdi and stops with status 2.
    need_loader
    need_native
    command -v python3 >/dev/null || skip "python3 is not installed"
    python3 - "$media/sample-disk.img" "$work" <<'PY'
import struct, sys
disk = open(sys.argv[1], 'rb').read()
work = sys.argv[2]
def write(name, data):
    open(work + '/' + name, 'wb').write(data)
def vhd_footer(disk_type, size):
    f = bytearray(512)
    f[0:8] = b'conectix'
    struct.pack_into('>IIQ', f, 8, 2, 0x00010000, 0xFFFFFFFFFFFFFFFF if disk_type == 2 else 512)
    struct.pack_into('>QQHBBI', f, 40, size, size, 20, 16, 63, disk_type)
    struct.pack_into('>I', f, 64, ~sum(f) & 0xFFFFFFFF)
    return bytes(f)
hdi = struct.pack('<8I', 0, 0, 4096, len(disk), 512, 32, 8, len(disk) // (512 * 32 * 8)).ljust(4096, b'\0')
write('disk.hdi', hdi + disk)
nhd = bytearray(512)
nhd[0:14] = b'T98HDDIMAGE.R0'
struct.pack_into('<IIHHH', nhd, 0x110, 512, len(disk) // (512 * 32 * 8), 8, 32, 512)
write('disk.nhd', bytes(nhd) + disk)
write('disk.thd', struct.pack('<H', 2).ljust(256, b'\0') + disk[:2 * 8 * 33 * 256])
write('disk.vhd', disk + vhd_footer(2, len(disk)))
write('dynamic.vhd', vhd_footer(3, 1 << 20) + bytes(4096) + vhd_footer(3, 1 << 20))
PY
    for name in disk.hdi disk.nhd disk.thd disk.vhd; do
        run_exe "$name" "$exe" -image "$work/$name" -dpo
        expect_rc "$name" 0
        "$native" -image "$work/$name" -dpo >"$work/$name.native"
        expect_report "$name" "$work/$name.native"
        grep -q '^  Image: ' "$work/$name.out" || fail "$name: no Image: line"
        echo "same report: vexum.exe -image $name -dpo ($(wc -l <"$work/$name.native") lines)"
    done
    run_exe dynamic "$exe" -image "$work/dynamic.vhd" -p
    expect_rc dynamic 2
    [ ! -s "$work/dynamic.out" ] || fail "dynamic: a report was printed"
    echo "vexum: $work/dynamic.vhd: VHD dynamic images need libvhdi, which this build of vexum does not have" \
        >"$work/expected.err"
    cmp -s "$work/expected.err" "$work/dynamic.err" || fail "dynamic: standard error: $(cat "$work/dynamic.err")"
    ;;

spti-machine)
    # SPTI against real SCSI units: the test machine of ../shared/vm boots
    # with a virtio-scsi disk, CD and LUN-3 disk and two scsi_debug disks
    # (five units: Wine serves pass-through requests on five devices per
    # process), runs the host's Wine over them, and vexum.exe must print the
    # native build's report of the same units, the host adapter lines set
    # aside (they name the manager). Minutes under TCG: only with CI=true or
    # VEXUM_VM_TESTS=1.
    if [ "${CI:-}" != true ] && { [ -z "${VEXUM_VM_TESTS:-}" ] || [ "${VEXUM_VM_TESTS:-}" = 0 ]; }; then
        skip "the test machine boots only under CI=true or VEXUM_VM_TESTS=1 (minutes under TCG)"
    fi
    rig=$VEXUM_SOURCE_DIR/../shared/vm/run-in-vm.sh
    [ -x "$rig" ] || skip "no test machine rig at $rig"
    command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
    need_loader
    need_native
    # The machine's own prefix, made here for both architectures.
    prefix=$work/prefix
    loader=$(sed 's/.*wine-run //' <<<"$VEXUM_WINE")
    [ "$loader" = wine64 ] && loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
    [ "$loader" = wine ] && loader=$(command -v wine)
    VEXUM_WINEPREFIX=$prefix "${wine[@]}" --boot >/dev/null 2>&1 || fail "cannot make the machine's Wine prefix"
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    lock=${TMPDIR:-/tmp}/vexum-vm.lock
    flock "$lock" "$rig" -t 900 -s "ptype=0 num_tgts=1 max_luns=2 dev_size_mb=16 sector_size=512" -o "$work" \
        -q "-virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,id=hostroot" - "
        mkdir -p /mnt/h && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 hostroot /mnt/h
        mount --bind /proc /mnt/h/proc; mount --bind /dev /mnt/h/dev; mount --bind /sys /mnt/h/sys
        mount -t tmpfs t /mnt/h/tmp; mount --bind /out /mnt/h/mnt
        chroot /mnt/h /bin/bash $VEXUM_SOURCE_DIR/tests/windows/spti-machine.sh $exe $native $loader" \
        >"$work/machine.log" 2>&1
    cat "$work/machine.log"
    [ -s "$work/native.out" ] || fail "no native report from the machine"
    tr -d '\r' <"$work/exe.raw" >"$work/exe.out"
    [ ! -s "$work/native.err" ] || fail "native: $(cat "$work/native.err")"
    [ ! -s "$work/exe.err" ] || fail "vexum.exe: $(tr -d '\r' <"$work/exe.err")"
    units=$(grep -c ')ID:' "$work/native.out")
    [ "$units" -ge 5 ] || fail "the native report lists $units units"
    grep '^Host adapter #' "$work/exe.out" | grep -qv ' - Windows SPTI ' && fail "a host adapter line names another manager"
    adapters() { sed 's/^\(Host adapter #[0-9A-F]*\) - .*/\1/' "$1"; }
    if ! cmp -s <(adapters "$work/native.out") <(adapters "$work/exe.out"); then
        diff <(adapters "$work/native.out") <(adapters "$work/exe.out") | head -40
        fail "vexum.exe's report through SPTI differs from the native one"
    fi
    echo "same report through SPTI as through SG_IO: $units units, $(grep -c '^Host adapter #' "$work/native.out") adapters, $(wc -l <"$work/native.out") lines"
    ;;

*)
    fail "unknown case $case_name"
    ;;
esac
echo "passed: $case_name"
