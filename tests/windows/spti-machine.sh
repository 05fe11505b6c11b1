#!/bin/bash
# Runs in the test machine, chrooted into the host's root (shared read-only
# over 9p; /dev, /proc and /sys are the guest's, /tmp a tmpfs, the host's
# work folder at /mnt):
#   spti-machine.sh EXE NATIVE LOADER
# Names every SCSI unit that has a block device as a SCSI port of the Wine
# prefix /mnt/prefix (dosdevices scsiN: -> /dev/sdX), so that vexum.exe's
# walk of \\.\ScsiN: finds them, then writes the native build's report of
# the machine (through SG_IO) and vexum.exe's (through SPTI, which Wine
# turns into SG_IO on the same devices) into /mnt.
set -u
exe=$1 native=$2 loader=$3
export HOME=/tmp WINEPREFIX=/mnt/prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
# A program mapped from the 9p share faults under Wine: run copies.
cp "$exe" /tmp/vexum.exe && cp "$native" /tmp/vexum || exit 1
n=0
for unit in /sys/bus/scsi/devices/*:*:*:*; do
    for block in "$unit"/block/*; do
        [ -e "$block" ] || continue
        ln -sfn "/dev/${block##*/}" "$WINEPREFIX/dosdevices/scsi$n:"
        echo "scsi$n: -> /dev/${block##*/} (${unit##*/})"
        n=$((n + 1))
    done
done
/tmp/vexum -l -dp >/mnt/native.out 2>/mnt/native.err
echo "native: exit code $?"
"$loader" /tmp/vexum.exe -l -dp >/mnt/exe.raw 2>/mnt/exe.err
echo "vexum.exe: exit code $?"
