#!/usr/bin/env bash
# Builds images with the built orbec from the demo mirror and boots each in QEMU until the
# demo system's marker line appears, on every firmware the demo supports. Run inside
# isolated.sh, after prepare-mirror.sh and, outside the network namespace, --prepare:
#   boot_test.sh <source-dir> <build-dir>
#   boot_test.sh --prepare <source-dir> <build-dir>
#
# --prepare writes <build-dir>/demo-unsigned-grub.efi, an unsigned GRUB for the Secure Boot
# control, made with grub-mkimage out of Debian's grub-common and grub-efi-amd64-bin (fetched
# with apt-get download, never installed, and kept in $ORBEC_DEMO_CACHE).
set -euo pipefail

if [ "${1-}" = --prepare ]; then
  build=$3
  cache=${ORBEC_DEMO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orbec-demo}
  version=$(apt-cache show --no-all-versions grub-efi-amd64-bin 2>/dev/null | sed -n 's/^Version: //p')
  cached=$cache/grub-unsigned_${version//:/_}.efi
  if [ -z "$version" ]; then
    # Without package lists, any GRUB made earlier will do.
    cached=$(find "$cache" -maxdepth 1 -name 'grub-unsigned_*.efi' 2>/dev/null | sort | tail -n 1)
    [ -n "$cached" ] || { echo "boot_test.sh: no package lists (run apt-get update)" >&2; exit 1; }
  fi
  if [ ! -f "$cached" ]; then
    work=$(mktemp -d)
    trap 'rm -rf -- "$work"' EXIT
    (cd "$work" && apt-get download -q=2 -o APT::Sandbox::User="$(id -un)" grub-common grub-efi-amd64-bin)
    for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/x"; done
    # The prefix is /boot/grub on the device GRUB started from, as in Debian's signed GRUB
    # for CDs: it reads the image's own grub.cfg.
    mkdir -p "$cache"
    "$work/x/usr/bin/grub-mkimage" -O x86_64-efi -d "$work/x/usr/lib/grub/x86_64-efi" \
      -p /boot/grub -o "$cached.part" \
      normal configfile linux search search_fs_file iso9660 part_msdos part_gpt fat echo
    mv -f -- "$cached.part" "$cached"
  fi
  cp -- "$cached" "$build/demo-unsigned-grub.efi"
  exit 0
fi

source_dir=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
boot() { "$source_dir/scripts/demo/boot-test.sh" "$@" 400; }

TMPDIR=$work "$source_dir/scripts/demo/build-image.sh" "$build" "$work/boot.iso" -q
test ! -e "$work/KaveroBootableAvTempFolder"
# With -u the image also boots as a raw hard disk (a USB drive written with dd).
TMPDIR=$work "$source_dir/scripts/demo/build-image.sh" "$build" "$work/usb.iso" -q -u
test ! -e "$work/KaveroBootableAvTempFolder"

start=$SECONDS
boot "$work/boot.iso"
boot --disk "$work/usb.iso"
boot "$work/usb.iso"
boot --firmware uefi "$work/boot.iso"
boot --firmware uefi --disk "$work/usb.iso"
boot --firmware secure-boot --require-secure-boot "$work/boot.iso"
boot --firmware secure-boot --require-secure-boot --disk "$work/usb.iso"
echo "boot_test.sh: seven boots in $((SECONDS - start)) s"

# Control: the same image with an unsigned GRUB boots on UEFI, and Secure Boot stops it.
lba=$(xorriso -indev "$work/boot.iso" -report_el_torito plain 2>/dev/null |
  awk '$1 == "El" && $4 == "img" && $7 == "UEFI" { print $NF }')
test -n "$lba"
mcopy -o -i "$work/boot.iso@@$((lba * 2048))" "$build/demo-unsigned-grub.efi" ::/EFI/BOOT/grubx64.efi
boot --firmware uefi "$work/boot.iso"
if boot --firmware secure-boot "$work/boot.iso" >"$work/refused" 2>&1 ||
  ! grep "Secure Boot refused" "$work/refused"; then
  echo "boot_test.sh: Secure Boot did not refuse an unsigned GRUB:" >&2
  cat "$work/refused" >&2
  exit 1
fi
