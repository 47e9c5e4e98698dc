#!/usr/bin/env bash
# disk-full.sh TEST_EXE WORK_DIR: runs the apply test's DiskFull case with a
# 2 MiB tmpfs mapped as Wine drive T: (a disk that fills part-way through a
# download). Needs root for the mount; exits 77 (skipped) without it.
set -u
exe=$1
work=$2
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
prefix="${EMBER_WINEPREFIX:-$top/build/wineprefix}"
mnt="$work/diskfull-mnt"
mkdir -p "$mnt"
mountpoint -q "$mnt" || mount -t tmpfs -o size=2m tmpfs "$mnt" 2>/dev/null || { echo "cannot mount a tmpfs: skipped"; exit 77; }
cleanup() {
    rm -f "$prefix/dosdevices/t:"
    umount "$mnt" 2>/dev/null
}
trap cleanup EXIT
# The prefix exists once any Wine test ran; make sure it does.
[ -d "$prefix/dosdevices" ] || "$top/tools/wine-run" cmd /c exit >/dev/null 2>&1
ln -sfn "$mnt" "$prefix/dosdevices/t:"
EMBER_TEST_FULL_DRIVE='T:' "$top/tools/wine-run" "$exe" --gtest_filter='DiskFull.*'
