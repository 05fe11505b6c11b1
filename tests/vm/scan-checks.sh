#!/bin/sh
# Runs inside the test machine (busybox sh, in the folder that holds ./vexum).
# Scans the machine's SCSI buses with vexum and checks each line against what
# the kernel (sysfs, lsscsi) and sg3_utils report about the same devices.
# Prints one "FAIL: ..." block per mismatch and ends with
# "checks: N passed, M failed". With OUT set, the reports and a trace of the
# full scan are left there for the host to replay. SDEBUG_VARIANTS lists
# further scsi_debug configurations to reload and check in the same boot.
V=./vexum
tmp=${TMPDIR:-/tmp}
pass=0
fail=0

check() { # name expected actual
    if [ "$2" = "$3" ]; then
        pass=$((pass + 1))
    else
        fail=$((fail + 1))
        echo "FAIL: $1"
        echo "  expected: [$2]"
        echo "  got:      [$3]"
    fi
}

type_text() {
    case $1 in
    0) echo "Direct access device" ;;
    1) echo "Sequential device" ;;
    2) echo "Printer device" ;;
    3) echo "Processor device" ;;
    4) echo "Write-once device" ;;
    5) echo "CD-ROM device" ;;
    6) echo "Scaner device" ;;
    7) echo "Optical memory device" ;;
    8) echo "Medium changer device" ;;
    9) echo "Communication device" ;;
    *) printf 'Unkown device (%02XH)\n' "$1" ;;
    esac
}

# Position of a kernel host number among all hosts (the adapter number).
adapter_of() {
    ls /sys/class/scsi_host | sed 's/^host//' | sort -n | awk -v h="$1" '$1 == h { print NR - 1 }'
}

# One field of sg_inq's decoded standard INQUIRY answer ("version=0x05" ...).
# sg_inq is asked once per node.
inq() {
    [ -f "$tmp/inq.$1" ] || sg_inq "/dev/$1" > "$tmp/inq.$1" 2>/dev/null
    cat "$tmp/inq.$1"
}
inq_field() { # sgnode name
    inq "$1" | tr ' ' '\n' | sed -n "s/^$2=//p" | head -1
}
inq_text() { # sgnode "Vendor identification"
    inq "$1" | sed -n "s/^ *$2: *//p" | sed 's/ *$//' | head -1
}

# The device line that vexum must print for H:C:T:L, from sysfs and sg_inq.
expected_line() {
    hctl=$1
    d=/sys/bus/scsi/devices/$hctl
    IFS=: read -r h c t l <<EOF
$hctl
EOF
    sg=$(ls "$d/scsi_generic")
    a=$(adapter_of "$h")
    version=$(inq_field "$sg" version)
    rmb=$(inq_field "$sg" RMB)
    rdf=$(inq_field "$sg" Resp_data_format)
    case $((version)) in 1) vt=SCSI-1 ;; 2) vt=SCSI-2 ;; *) vt="" ;; esac
    [ "$rmb" = 1 ] && rt=Removable || rt=Rigid
    if [ "$rdf" = 0 ]; then
        vendor="" product="" rev=""
    else
        vendor=$(cat "$d/vendor") product=$(cat "$d/model") rev=$(cat "$d/rev")
    fi
    printf '%X)ID:%X-%X %5s %-8s %-16s %-4s %-9s - %s\n' "$a" "$t" "$l" "$vt" "$vendor" "$product" "$rev" "$rt" \
        "$(type_text "$(cat "$d/type")")"
}

# sysfs and sg_inq must agree on the texts that the device line is made of.
check_texts() {
    d=/sys/bus/scsi/devices/$1
    sg=$(ls "$d/scsi_generic")
    check "$1 vendor: sysfs against sg_inq" "$(inq_text "$sg" "Vendor identification")" "$(sed 's/ *$//' "$d/vendor")"
    check "$1 product: sysfs against sg_inq" "$(inq_text "$sg" "Product identification")" "$(sed 's/ *$//' "$d/model")"
    check "$1 revision: sysfs against sg_inq" "$(inq_text "$sg" "Product revision level")" "$(sed 's/ *$//' "$d/rev")"
}

# Units lsscsi lists at LUNs 0-7 and targets 0-6, or every target of a host
# channel that holds a unit at target 8 or beyond (a wide bus), ordered as
# the scan walks them (adapter, target, LUN); $1 = "all" or "lun0".
listed_units() {
    lsscsi | sed -n 's/^\[\([0-9]*\):\([0-9]*\):\([0-9]*\):\([0-9]*\)\].*/\1 \2 \3 \4/p' > "$tmp/units"
    while read -r h c t l; do
        widest=$(awk -v h="$h" -v c="$c" '$1 == h && $2 == c && $3 > m { m = $3 } END { print m + 0 }' "$tmp/units")
        [ "$t" -le 6 ] || [ "$widest" -ge 8 ] || continue
        [ "$l" -le 7 ] || continue
        [ "$1" = lun0 ] && [ "$l" != 0 ] && continue
        echo "$(adapter_of "$h") $t $l $h:$c:$t:$l"
    done < "$tmp/units" | sort -n -k1,1 -k2,2 -k3,3 | cut -d' ' -f4
}

# The scans of one configuration of the machine; tag names the trace and
# report of the full scan left in $OUT.
check_scans() {
    tag=$1
    for mode in lun0 all; do
        if [ $mode = all ]; then $V -l > scan.txt 2> scan.err; else $V > scan.txt 2> scan.err; fi
        check "$tag: exit code of the $mode scan" 0 $?
        check "$tag: standard error of the $mode scan" "" "$(cat scan.err)"
        expected=""
        for u in $(listed_units $mode); do
            check_texts "$u"
            expected="$expected$(expected_line "$u")
"
        done
        check "$tag: device lines of the $mode scan" "$expected" "$(grep ')ID:' scan.txt)
"
        check "$tag: lines of the $mode scan found by lsscsi" "$(listed_units $mode | wc -l)" "$(grep -c ')ID:' scan.txt)"
    done

    # Adapter lines: one per kernel host, in host number order, naming the driver.
    expected=""
    for h in $(ls /sys/class/scsi_host | sed 's/^host//' | sort -n); do
        expected="$expected$(printf 'Host adapter #%d - Linux sg         %-16s %-16s' "$(adapter_of "$h")" \
            "$(cat /sys/class/scsi_host/host$h/proc_name)" "host$h")
"
    done
    check "$tag: adapter lines" "$expected" "$(grep '^Host adapter' scan.txt)
"
    out=${OUT:-$tmp}
    $V -l -dp -trace "$out/scan-$tag.bus" > "$out/scan-$tag.txt" 2> "$out/scan-$tag.err"
    check "$tag: exit code of the traced scan" 0 $?

    # Detail lines of each unit against sg_vpd and sg_readcap.
    for u in $(listed_units all); do
        d=/sys/bus/scsi/devices/$u
        sg=$(ls "$d/scsi_generic")
        section=$(unit_section "$(expected_line "$u")" < "$out/scan-$tag.txt")
        check "$tag: $u serial number against sg_vpd" \
            "$(sg_vpd -p sn "/dev/$sg" 2>/dev/null | sed -n 's/^ *Unit serial number: *//p' | sed 's/ *$//')" \
            "$(echo "$section" | sed -n 's/^  VPD:Unit serial number *//p')"
        if [ "$(cat "$d/type")" = 0 ]; then
            # The kernel's reading of the caching page: WCE and RCD bits.
            case "$(cat "$d"/scsi_disk/*/cache_type)" in
            "write back") wce=Enable rc=Enable ;;
            "write through") wce=Disable rc=Enable ;;
            "none") wce=Disable rc=Disable ;;
            *) wce=Enable rc=Disable ;;
            esac
            check "$tag: $u write cache against sysfs cache_type" "$wce" \
                "$(echo "$section" | sed -n 's/^  CSH:Write cache *//p')"
            check "$tag: $u read cache against sysfs cache_type" "$rc" \
                "$(echo "$section" | sed -n 's/^  CSH:Read  cache *//p')"
            geometry=$(sginfo -g "/dev/$sg" 2>/dev/null)
            check "$tag: $u cylinders against sginfo" \
                "$(echo "$geometry" | sed -n 's/^Number of cylinders *\([0-9]*\).*/\1/p')" \
                "$(echo "$section" | sed -n 's/^  DRV:Cylinder number *//p' | tr -d ,)"
            check "$tag: $u heads against sginfo" \
                "$(echo "$geometry" | sed -n 's/^Number of heads *\([0-9]*\).*/\1/p')" \
                "$(echo "$section" | sed -n 's/^  DRV:Head number *//p' | tr -d ,)"
        fi
        if [ "$(cat "$d/type")" = 5 ]; then
            cap=$(sg_readcap "/dev/$sg" 2>/dev/null)
            blocks=$(echo "$cap" | sed -n 's/.*Number of logical blocks=\([0-9]*\).*/\1/p')
            length=$(echo "$cap" | sed -n 's/.*Logical block length=\([0-9]*\) bytes.*/\1/p')
            check "$tag: $u sectors against sg_readcap" "$blocks" \
                "$(echo "$section" | sed -n 's/^    Capacity .*(  *\([0-9,]*\) sectors)/\1/p' | tr -d ,)"
            check "$tag: $u block size against sg_readcap" "$length" \
                "$(echo "$section" | sed -n 's/^    Block size  *\([0-9,]*\) bytes/\1/p' | tr -d ,)"
        fi
    done
}

# The lines of a report that follow the line given on standard input's
# device line $1, up to the next empty line.
unit_section() {
    awk -v line="$1" 'found && $0 == "" { exit } found { print } $0 == line { found = 1 }'
}

# Drive numbers of -disk name the whole disks of /sys/block by device
# number; each drive with 512-byte sectors must show the same partition
# lines as the same block device named with -image.
check_disks() {
    $V -disk -p > disk.txt 2> disk.err
    check "exit code of -disk" 0 $?
    drives=0
    number=0
    for entry in $(for b in /sys/block/*; do
        [ "$(cat "$b/size")" != 0 ] && echo "$(cat "$b/dev") ${b##*/}"
    done | sort -t: -n -k1,1 -k2,2 | tr ' ' '|'); do
        name=${entry#*|}
        major=${entry%%:*}
        [ "$major" = 1 ] && continue
        if [ "$(cat "/sys/block/$name/queue/logical_block_size")" = 512 ]; then
            drives=$((drives + 1))
            check "drive $number (/dev/$name) against -image" \
                "$($V -image "/dev/$name" -p | sed 1,2d)" \
                "$(awk -v h="Disk:$number" 'found && $0 == "" { exit } found { print } $0 == h { found = 1 }' disk.txt)"
        fi
        number=$((number + 1))
    done
    check "drives reported by -disk" "$drives" "$(grep -c '^Disk:' disk.txt)"
}

# Waits until every SCSI device has its sg node (and disks and CDs their
# block device), at most 10 s.
settle() {
    i=0
    while [ $i -lt 100 ]; do
        ok=1
        for d in /sys/bus/scsi/devices/*:*:*:*; do
            [ -e "$d" ] || continue
            [ -d "$d/scsi_generic" ] || ok=0
            case "$(cat "$d/type")" in 0 | 5 | 7 | 14) [ -d "$d/block" ] || ok=0 ;; esac
        done
        [ $ok = 1 ] && return
        sleep 0.1
        i=$((i + 1))
    done
}

check_scans boot
check_disks

# A user who may not open /dev/sg* is told so, once.
# (the machine's root file system is built private to root: open it up)
find / -xdev -exec chmod go+rX {} + 2>/dev/null
grep -q '^nobody:' /etc/passwd || echo 'nobody:x:65534:65534:nobody:/:/bin/sh' >> /etc/passwd
su -s /bin/sh nobody -c "cd $(pwd) && $V" > "$tmp/user.txt" 2> "$tmp/user.err"
check "exit code without permission" 0 $?
check "device lines without permission" 0 "$(grep -c ')ID:' "$tmp/user.txt")"
first=/dev/$(ls "/sys/bus/scsi/devices/$(listed_units lun0 | head -1)/scsi_generic")
check "message without permission" \
    "vexum: no permission to open $first: SCSI devices can be read by root or by a user with read access to /dev/sg*" \
    "$(cat "$tmp/user.err")"

# Further scsi_debug configurations ("params;params;..."), loaded in turn.
saved_ifs=$IFS
IFS=';'
# shellcheck disable=SC2086
set -- $SDEBUG_VARIANTS
IFS=$saved_ifs
n=0
for params in "$@"; do
    n=$((n + 1))
    rmmod scsi_debug 2>/dev/null
    # shellcheck disable=SC2086
    modprobe scsi_debug $params
    check "scsi_debug $params loads" 0 $?
    settle
    check_scans variant$n
done

echo "checks: $pass passed, $fail failed"
[ $fail = 0 ]
