#!/usr/bin/env bash
# Builds the demo download mirror's content:
#   build-mirror.sh <pki-dir> <out-dir> [version]
#
# <out-dir> is laid out by URL path, so that a static web server with <out-dir> as its
# document root serves what orbec requests:
#   tools/orbe/1.1/KaveroLive-SLAX.tar            bootable live distribution (isolinux,
#   tools/orbe/1.1/KaveroLive-SLAX_manifest.dat   shim and GRUB, Debian kernel, busybox initramfs)
#   kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.tar
#   kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.manifest
#   kavero/products/full/OEM/Lumo/data/vdl.zip    virusDataVersion.txt holds <version>
#   kavero/products/full/OEM/Lumo/data/ide_<version>.zip
# <version> defaults to 2026.12.07. The manifests are signed with <pki-dir>'s signer
# (see scripts/make-demo-pki.sh).
#
# The distribution tar holds only directories and regular files, each directory before its
# content, with short relative names (no ustar name prefix), so the simplest tar reader
# unpacks it.
#
# The distribution boots on BIOS through isolinux (slax/boot/isolinux.bin) and on UEFI, with
# or without Secure Boot, through slax/boot/efiboot.img: a FAT image holding Debian's
# Microsoft-signed shim as EFI/BOOT/BOOTX64.EFI and Debian's signed GRUB for CDs as
# EFI/BOOT/grubx64.efi, which shim starts after checking its signature. That GRUB reads
# /boot/grub/grub.cfg from the medium it started from: the ISO 9660 file system when the
# firmware used the El Torito entry, the FAT image when it used the EFI partition of an
# isohybrid --uefi disk; both copies start the kernel as isolinux.cfg does.
#
# The booted system checks the medium it was booted from: it mounts the CD (/dev/sr0) or the
# disk (/dev/sda, /dev/sda1), compares the SHA-1 of the product tar, vdl.zip and, when the
# image has one, ide_<version>.zip with the files this script served, and the volume label
# with "ORBE <version>". It prints one "ORBEC-CHECK ..." line per check on the serial
# console, a line "ORBEC-CHECK firmware BIOS" or "ORBEC-CHECK firmware UEFI secure-boot on"
# (or "off", read from the firmware's SecureBoot variable), then "ORBEC-DEMO-BOOT-OK" when
# every check passed or "ORBEC-DEMO-BOOT-FAILED" when one did not, and powers off;
# scripts/demo/boot-test.sh looks for these lines. The expected values are written into the initramfs here, inside the signed distribution: an
# isolinux boot takes its kernel command line from the image under test, so nothing outside
# the image could hand them in there, and the image cannot vouch for itself.
#
# The kernel and the driver modules the checks need (ATA on the PC and AHCI on the q35
# machine, SCSI CD and disk, ISO 9660, efivarfs, and what they depend on) are taken out of
# Debian's linux-image package (apt-get download + dpkg-deb, never installed) and kept in the
# cache folder $ORBEC_DEMO_CACHE (default ${XDG_CACHE_HOME:-~/.cache}/orbec-demo), as are the
# shim and GRUB files out of shim-signed and grub-efi-amd64-signed.
# ORBEC_DEMO_KERNEL=<vmlinuz> uses a given kernel instead, with ORBEC_DEMO_MODULES=<tar>
# holding its modules as lib/modules/<release>/... unless the kernel has those drivers built
# in. isolinux, syslinux-common and busybox-static must be installed, and mtools and
# dosfstools (mkfs.fat) to build the FAT image. ORBEC_DEMO_WIN_MKISOFS=<exe> puts that program
# into the distribution as slax/tools/WIN/mkisofs.exe, for a Windows build of orbec.
set -euo pipefail

readonly marker=ORBEC-DEMO-BOOT-OK
readonly fail_marker=ORBEC-DEMO-BOOT-FAILED
# The drivers that the booted system loads to reach its medium, when they are modules.
readonly boot_modules="ata_piix ahci sr_mod sd_mod isofs efivarfs"
# The kernel command line, the same from isolinux and from GRUB.
readonly cmdline="console=ttyS0,115200 panic=-1 loglevel=4"
# Fixed time stamp for every generated file, so that reruns give identical archives.
readonly epoch=1767225600 # 2026-01-01 00:00:00 UTC

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: build-mirror.sh <pki-dir> <out-dir> [version]" >&2
  exit 2
fi
pki=$1
out=$2
version=${3-2026.12.07}
here=$(cd -- "$(dirname -- "$0")" && pwd)

die() {
  echo "build-mirror.sh: $*" >&2
  exit 1
}

# The version becomes a file name and a URL path.
case $version in
  . | .. | */* | *\\* | *[:*?\"\<\>\|]* | *[[:cntrl:]]*)
    die "version not usable as a file name: $version"
    ;;
esac
for f in signer.key signer.crt intermediate.crt; do
  [ -f "$pki/$f" ] || die "$pki/$f is missing (make it with scripts/make-demo-pki.sh)"
done

readonly isolinux_bin=/usr/lib/ISOLINUX/isolinux.bin
readonly ldlinux_c32=/usr/lib/syslinux/modules/bios/ldlinux.c32
busybox=$(command -v busybox || true)
[ -f "$isolinux_bin" ] || die "$isolinux_bin is missing (Debian package isolinux)"
[ -f "$ldlinux_c32" ] || die "$ldlinux_c32 is missing (Debian package syslinux-common)"
[ -n "$busybox" ] || die "busybox is missing (Debian package busybox-static)"
if LC_ALL=C ldd "$busybox" >/dev/null 2>&1; then
  die "$busybox is dynamically linked; install busybox-static"
fi
# mkfs.fat lives in sbin, which a user's PATH often leaves out.
mkfs_fat=$(PATH=$PATH:/usr/sbin:/sbin command -v mkfs.fat || true)
[ -n "$mkfs_fat" ] || die "mkfs.fat is missing (Debian package dosfstools)"
command -v mcopy >/dev/null || die "mcopy is missing (Debian package mtools)"

cache=${ORBEC_DEMO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orbec-demo}
tmp=$(mktemp -d)
trap 'rm -rf -- "$tmp"' EXIT

# Prints what <command> prints from the package lists; when that is nothing and this runs
# as root, once more after apt-get update (a fresh machine may have no lists yet).
from_package_lists() { # command...
  local got
  got=$("$@")
  if [ -z "$got" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq >&2
    got=$("$@")
  fi
  printf '%s' "$got"
}

kernel_dependency() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}

# Prints the name of the versioned kernel package that linux-image-amd64 depends on.
kernel_package() { from_package_lists kernel_dependency; }

candidate_version() { # package
  apt-cache show --no-all-versions "$1" 2>/dev/null | sed -n 's/^Version: //p' | head -n 1
}

# Downloads Debian package <package> (never installed) into <dir> and prints the .deb's path.
download_package() { # package dir
  mkdir -p "$2"
  echo "Downloading $1 (a few files only; nothing is installed)..." >&2
  (cd "$2" && apt-get download -q=2 -o APT::Sandbox::User="$(id -un)" "$1" >&2)
  local deb
  deb=$(find "$2" -maxdepth 1 -name "${1}_*.deb" | head -n 1)
  [ -n "$deb" ] || die "apt-get download $1 gave no package"
  printf '%s' "$deb"
}

# Prints the path of a cached copy of the file <path> of Debian package <package>, in the
# candidate version, fetching the package when the cache has no copy. Offline or without
# package lists, a copy from any version fetched earlier will do.
package_file() { # package path
  local version cached deb
  version=$(from_package_lists candidate_version "$1")
  if [ -z "$version" ]; then
    cached=$(find "$cache" -maxdepth 1 -name "${1}_*.${2##*/}" 2>/dev/null | sort | tail -n 1)
    [ -n "$cached" ] || die "cannot resolve package $1 (run apt-get update)"
    printf '%s' "$cached"
    return
  fi
  cached=$cache/${1}_${version//:/_}.${2##*/}
  if [ ! -f "$cached" ]; then
    mkdir -p "$cache"
    deb=$(download_package "$1" "$tmp/deb-$1")
    dpkg-deb --fsys-tarfile "$deb" | tar -x -O "./$2" >"$cached.part" ||
      die "$1 holds no /$2"
    mv -f -- "$cached.part" "$cached"
    rm -rf -- "$tmp/deb-$1"
  fi
  printf '%s' "$cached"
}

# Prints the name a module is known by: its file name without ".ko", "-" read as "_".
module_name() { # path-or-name
  local name=${1##*/}
  name=${name%.ko}
  printf '%s' "${name//-/_}"
}

# Extracts the modules named in $boot_modules, and every module they depend on (read from
# each module's own "depends=" entry), from the kernel package <deb> into <dir>.
extract_modules() { # deb dir
  local deb=$1 dir=$2 index=$tmp/ko-index wanted=$boot_modules have=" " name path dep
  dpkg-deb -c "$deb" | awk '$NF ~ /\.ko$/ { print $NF }' >"$index"
  while [ -n "$wanted" ]; do
    local paths=()
    for name in $wanted; do
      path=$(while read -r p; do
        [ "$(module_name "$p")" = "$name" ] && printf '%s' "$p" && break
      done <"$index")
      [ -n "$path" ] || die "the kernel package has no module $name"
      paths+=("$path")
      have+="$name "
    done
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$dir" "${paths[@]}"
    wanted=
    for path in "${paths[@]}"; do
      for dep in $(tr '\0' '\n' <"$dir/$path" | sed -n 's/^depends=//p' | tr ',' ' '); do
        dep=$(module_name "$dep")
        case "$have $wanted " in *" $dep "*) ;; *) wanted+=" $dep" ;; esac
      done
    done
  done
}

# True when the module tar <tar> exists and holds every module of $boot_modules.
holds_boot_modules() { # tar
  local names name
  [ -f "$1" ] || return 1
  names=" $(tar -tf "$1" | sed -n 's|.*/||; s|\.ko$||p' | tr '-' '_' | tr '\n' ' ')"
  for name in $boot_modules; do
    case $names in *" $name "*) ;; *) return 1 ;; esac
  done
}

# Prints the path of a cached kernel image, downloading its package when needed. Its
# modules are in the tar beside it (<name>.modules.tar), when the cache has them.
kernel_image() {
  if [ -n "${ORBEC_DEMO_KERNEL:-}" ]; then
    [ -f "$ORBEC_DEMO_KERNEL" ] || die "ORBEC_DEMO_KERNEL=$ORBEC_DEMO_KERNEL is not a file"
    printf '%s' "$ORBEC_DEMO_KERNEL"
    return
  fi
  local pkg cached deb dl
  pkg=$(kernel_package)
  if [ -z "$pkg" ]; then
    # Offline or no package lists: any kernel fetched earlier will do.
    cached=$(find "$cache" -maxdepth 1 -name 'linux-image-*.vmlinuz' 2>/dev/null | sort | tail -n 1)
    [ -n "$cached" ] || die "cannot resolve linux-image-amd64 (run apt-get update)"
    printf '%s' "$cached"
    return
  fi
  cached=$cache/$pkg.vmlinuz
  # A module tar cached before a driver joined $boot_modules is made again.
  if [ ! -f "$cached" ] || ! holds_boot_modules "$cache/$pkg.modules.tar"; then
    mkdir -p "$cache"
    dl=$tmp/deb
    deb=$(download_package "$pkg" "$dl")
    mkdir -p "$dl/x"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$dl/x" --wildcards './boot/vmlinuz-*'
    local image
    image=$(find "$dl/x/boot" -maxdepth 1 -name 'vmlinuz-*' | head -n 1)
    [ -n "$image" ] || die "$pkg holds no /boot/vmlinuz-*"
    extract_modules "$deb" "$dl/x"
    tar -C "$dl/x" -cf "$cache/$pkg.modules.tar.part" lib
    mv -f -- "$cache/$pkg.modules.tar.part" "$cache/$pkg.modules.tar"
    cp -- "$image" "$cached.part"
    mv -f -- "$cached.part" "$cached"
    rm -rf -- "$dl"
  fi
  printf '%s' "$cached"
}

# Prints the module tar that goes with <kernel>, or nothing when there is none.
kernel_modules() { # kernel
  if [ -n "${ORBEC_DEMO_KERNEL:-}" ]; then
    if [ -n "${ORBEC_DEMO_MODULES:-}" ]; then
      [ -f "$ORBEC_DEMO_MODULES" ] || die "ORBEC_DEMO_MODULES=$ORBEC_DEMO_MODULES is not a file"
      printf '%s' "$ORBEC_DEMO_MODULES"
    fi
  elif [ -f "${1%.vmlinuz}.modules.tar" ]; then
    printf '%s' "${1%.vmlinuz}.modules.tar"
  fi
}

# Writes a gzip-compressed cpio (newc) initramfs holding a static busybox, the modules of
# <modules-tar> (may be empty) with their modules.dep, the expected values of <expected> and
# an /init that checks the boot medium against them, prints the outcome on the console and
# powers the machine off.
make_initramfs() { # output modules-tar expected
  local root=$tmp/initramfs release
  mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys" "$root/sbin" "$root/usr/bin" \
    "$root/usr/sbin" "$root/etc" "$root/medium"
  cp -- "$busybox" "$root/bin/busybox"
  chmod 0755 "$root/bin/busybox"
  if [ -n "$2" ]; then
    tar -xf "$2" -C "$root"
    for release in "$root"/lib/modules/*; do
      "$busybox" depmod -b "$root" "${release##*/}"
      for f in "$release"/modules.*; do LC_ALL=C sort -o "$f" "$f"; done
    done
  fi
  cp -- "$3" "$root/etc/orbec-expected"
  {
    printf '#!/bin/busybox sh\nok_marker=%s\nfail_marker=%s\nmodules="%s"\n' \
      "$marker" "$fail_marker" "$boot_modules"
    cat <<'EOF'
export PATH=/sbin:/usr/sbin:/bin:/usr/bin
/bin/busybox --install -s
mount -t devtmpfs devtmpfs /dev 2>/dev/null
# The kernel opens the console before /dev exists in this initramfs; open it now.
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
echo
for m in $modules; do modprobe "$m" 2>/dev/null; done
# The drivers find the drives in the background: wait up to 30 s for one to mount.
medium=
tries=0
while [ -z "$medium" ] && [ "$tries" -lt 60 ]; do
  for dev in /dev/sr0 /dev/sda /dev/sda1; do
    if [ -b "$dev" ] && mount -t iso9660 -o ro "$dev" /medium 2>/dev/null; then
      medium=$dev
      break
    fi
  done
  [ -n "$medium" ] || sleep 0.5
  tries=$((tries + 1))
done
failed=0
say() { echo "ORBEC-CHECK $*"; }
if [ -z "$medium" ]; then
  say "medium NOT FOUND (no ISO 9660 file system on /dev/sr0, /dev/sda or /dev/sda1)"
  failed=1
else
  # The volume identifier: 32 bytes at offset 40 of the primary volume descriptor (sector 16).
  label=$(dd if="$medium" bs=2048 skip=16 count=1 2>/dev/null | dd bs=1 skip=40 count=32     2>/dev/null | sed 's/ *$//')
  say "medium $medium label '$label'"
  tab=$(printf '	')
  while IFS=$tab read -r kind value file; do
    case $kind in
      label)
        if [ "$label" = "$value" ]; then
          say "label OK"
        else
          say "label MISMATCH (expected '$value')"
          failed=1
        fi
        ;;
      required | optional)
        if [ ! -f "/medium/$file" ]; then
          if [ "$kind" = required ]; then
            say "$file MISSING"
            failed=1
          else
            say "$file absent (allowed)"
          fi
        elif [ "$(sha1sum <"/medium/$file" | cut -d ' ' -f 1)" = "$value" ]; then
          say "$file OK"
        else
          say "$file MISMATCH"
          failed=1
        fi
        ;;
    esac
  done </etc/orbec-expected
  umount /medium
fi
# The firmware, and under UEFI whether it enforced Secure Boot: the last of the 5 bytes of the
# SecureBoot variable (4 attribute bytes, then the value).
if [ -d /sys/firmware/efi ]; then
  secure=off
  vars=/sys/firmware/efi/efivars
  mount -t efivarfs efivarfs "$vars" 2>/dev/null
  # One word per byte.
  set -- $(od -An -tu1 "$vars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c" 2>/dev/null)
  [ "${5-}" = 1 ] && secure=on
  say "firmware UEFI secure-boot $secure"
else
  say "firmware BIOS"
fi
if [ "$failed" -eq 0 ]; then
  echo "$ok_marker kernel $(uname -r)"
else
  echo "$fail_marker"
fi
sync
poweroff -f
EOF
  } >"$root/init"
  chmod 0755 "$root/init"
  find "$root" -exec touch -h -d "@$epoch" {} +
  (cd "$root" && find . -mindepth 1 | LC_ALL=C sort |
    cpio -o -H newc --quiet --reproducible -R 0:0) | gzip -9n >"$1"
}

# Writes the FAT image that UEFI firmware starts from a CD's El Torito entry or a disk's EFI
# partition: shim as the default loader EFI/BOOT/BOOTX64.EFI, the signed GRUB beside it under
# the name shim loads, and <grub-cfg>. Same input, same bytes: fixed volume id and time stamps.
make_efiboot() { # output grub-cfg
  local shim grub size=256 f
  shim=$(package_file shim-signed usr/lib/shim/shimx64.efi.signed)
  grub=$(package_file grub-efi-amd64-signed usr/lib/grub/x86_64-efi-signed/gcdx64.efi.signed)
  # KiB: each file in whole 4 KiB clusters, plus room for the FAT, the folders and the boot
  # sector.
  for f in "$shim" "$grub" "$2"; do
    size=$((size + 4 * (($(stat -c %s -- "$f") + 4095) / 4096)))
  done
  rm -f -- "$1"
  SOURCE_DATE_EPOCH=$epoch "$mkfs_fat" --invariant -i 4F524245 -C -n ORBEEFI "$1" "$size" >/dev/null
  mkdir -p "$tmp/efi"
  cp -- "$shim" "$tmp/efi/BOOTX64.EFI"
  cp -- "$grub" "$tmp/efi/grubx64.efi"
  cp -- "$2" "$tmp/efi/grub.cfg"
  touch -d "@$epoch" "$tmp/efi"/*
  SOURCE_DATE_EPOCH=$epoch mmd -i "$1" ::/EFI ::/EFI/BOOT ::/boot ::/boot/grub
  SOURCE_DATE_EPOCH=$epoch mcopy -m -i "$1" "$tmp/efi/BOOTX64.EFI" "$tmp/efi/grubx64.efi" ::/EFI/BOOT/
  SOURCE_DATE_EPOCH=$epoch mcopy -m -i "$1" "$tmp/efi/grub.cfg" ::/boot/grub/
}

# Writes a ustar archive of <dir>'s content: directories and regular files only, each directory
# before its content, names relative and without a leading "./", fixed owner and time.
make_tar() { # dir output
  local list=$tmp/tar-list
  (cd "$1" && find . -mindepth 1 \( -type d -o -type f \) -printf '%P\n' | LC_ALL=C sort) >"$list"
  tar --format=ustar -C "$1" --no-recursion -T "$list" -cf "$2" \
    --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --mode='u+rwX,go+rX,go-w'
}

# Writes a zip archive: zip_of <output> <member> <content> [<member> <content>...].
zip_of() {
  python3 - "$@" <<'PY'
import sys, zipfile
out, rest = sys.argv[1], sys.argv[2:]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in zip(rest[0::2], rest[1::2]):
        info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, text)
PY
}

build_distribution() { # output-tar expected
  local dist=$tmp/dist kernel modules
  kernel=$(kernel_image)
  modules=$(kernel_modules "$kernel")
  mkdir -p "$dist/isolinux" "$dist/slax/boot" "$dist/slax/tools/WIN"
  cp -- "$isolinux_bin" "$dist/slax/boot/isolinux.bin"
  cp -- "$ldlinux_c32" "$dist/isolinux/ldlinux.c32"
  cp -- "$kernel" "$dist/slax/boot/vmlinuz"
  make_initramfs "$dist/slax/boot/initrd.gz" "$modules" "$2"
  # Empty stand-in for the boot catalog, which the image program writes under this name.
  : >"$dist/slax/boot/isolinux.boot"
  # The isolinux.bin loaded from slax/boot reads its module and this file from /isolinux.
  cat >"$dist/isolinux/isolinux.cfg" <<EOF
SERIAL 0 115200
DEFAULT live
PROMPT 0
TIMEOUT 0
LABEL live
  KERNEL /slax/boot/vmlinuz
  INITRD /slax/boot/initrd.gz
  APPEND $cmdline
EOF
  # GRUB, started by shim, reads this file from the ISO 9660 file system (and from the FAT
  # image when the firmware booted the disk's EFI partition). It has no menu: a failure ends
  # at GRUB's prompt, which a boot test sees on the serial console.
  mkdir -p "$dist/boot/grub"
  cat >"$dist/boot/grub/grub.cfg" <<EOF
search --no-floppy --file --set=root --hint "\$root" /slax/boot/vmlinuz
linux /slax/boot/vmlinuz $cmdline
initrd /slax/boot/initrd.gz
boot
EOF
  make_efiboot "$dist/slax/boot/efiboot.img" "$dist/boot/grub/grub.cfg"
  # The Windows image program that the distribution carries: the stand-in of a Windows
  # build when one is given, else a placeholder (a Linux orbec never starts it).
  if [ -n "${ORBEC_DEMO_WIN_MKISOFS:-}" ]; then
    cp -- "$ORBEC_DEMO_WIN_MKISOFS" "$dist/slax/tools/WIN/mkisofs.exe"
  else
    printf 'MZ placeholder: the demo distribution carries no Windows program\r\n' \
      >"$dist/slax/tools/WIN/mkisofs.exe"
  fi
  find "$dist" -exec touch -h -d "@$epoch" {} +
  chmod -R u+rwX,go+rX,go-w "$dist"
  make_tar "$dist" "$1"
}

build_product() { # output-tar
  local prod=$tmp/product
  mkdir -p "$prod/kavero/bin" "$prod/kavero/etc"
  printf 'Kavero Anti-Virus for Linux (demo content)\n' >"$prod/kavero/README"
  printf '#!/bin/sh\necho "Kavero demo scanner: nothing to scan"\n' >"$prod/kavero/bin/avscan"
  chmod 0755 "$prod/kavero/bin/avscan"
  printf 'VdfPath=/slax/vdl.zip\n' >"$prod/kavero/etc/avscan.conf"
  find "$prod" -exec touch -h -d "@$epoch" {} +
  make_tar "$prod" "$1"
}

dist_dir=$out/tools/orbe/1.1
prod_dir=$out/kavero/products/full/OEM/Lumo/current/unix
data_dir=$out/kavero/products/full/OEM/Lumo/data
mkdir -p "$dist_dir" "$prod_dir" "$data_dir"

build_product "$prod_dir/linux.intel.libc6.glibc.2.2.tar"
bash "$here/sign-manifest.sh" "$pki" "$prod_dir/linux.intel.libc6.glibc.2.2.tar" \
  "$prod_dir/linux.intel.libc6.glibc.2.2.manifest"

zip_of "$data_dir/vdl.zip" \
  virusDataVersion.txt "$version"$'\n' \
  vdf/vbase000.vdf "Kavero demo virus definitions $version"$'\n'
zip_of "$data_dir/ide_$version.zip" \
  "ide_$version.dat" "Kavero demo identity update for $version"$'\n'

# What the booted system expects on its medium: the files above, as this mirror serves them.
sha1_of() { sha1sum -- "$1" | cut -d ' ' -f 1; }
{
  printf 'label\tORBE %s\n' "$version"
  printf 'required\t%s\tslax/linux.intel.libc6.glibc.2.2.tar\n' \
    "$(sha1_of "$prod_dir/linux.intel.libc6.glibc.2.2.tar")"
  printf 'required\t%s\tslax/vdl.zip\n' "$(sha1_of "$data_dir/vdl.zip")"
  printf 'optional\t%s\tslax/ide_%s.zip\n' "$(sha1_of "$data_dir/ide_$version.zip")" "$version"
} >"$tmp/expected"

build_distribution "$dist_dir/KaveroLive-SLAX.tar" "$tmp/expected"
bash "$here/sign-manifest.sh" "$pki" "$dist_dir/KaveroLive-SLAX.tar" \
  "$dist_dir/KaveroLive-SLAX_manifest.dat"

echo "Demo mirror content for version \"$version\" is in $out" >&2
