#!/usr/bin/env bash
# Builds an image with the built orbec from the demo mirror and boots it in QEMU until the
# demo system's marker line appears. Run inside isolated.sh, after prepare-mirror.sh.
#   boot_test.sh <source-dir> <build-dir>
set -euo pipefail

source_dir=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

TMPDIR=$work "$source_dir/scripts/demo/build-image.sh" "$build" "$work/boot.iso" -q
test ! -e "$work/KaveroBootableAvTempFolder"
"$source_dir/scripts/demo/boot-test.sh" "$work/boot.iso" 400

# With -u the image also boots as a raw hard disk (a USB drive written with dd), and still
# as a CD.
TMPDIR=$work "$source_dir/scripts/demo/build-image.sh" "$build" "$work/usb.iso" -q -u
test ! -e "$work/KaveroBootableAvTempFolder"
"$source_dir/scripts/demo/boot-test.sh" --disk "$work/usb.iso" 400
"$source_dir/scripts/demo/boot-test.sh" "$work/usb.iso" 400
