#!/usr/bin/env bash
# Writes a synthetic deployment of chosen sizes, laid out by URL path like the demo mirror, so
# that a static web server with <out-dir> as its document root serves what orbec requests:
#   bench/make-deployment.sh <pki-dir> <out-dir> <distribution MiB> <product MiB> <vdl MiB>
#
# The distribution is half many small files (1 to 63 KiB, in 64 folders) and half four large
# ones, plus the isolinux boot files the ISO step needs. Its tar holds only ustar directories
# and regular files, each directory before its content, names under 100 bytes with no prefix.
# The product tar is a few files, vdl.zip stored (uncompressed) members with
# virusDataVersion.txt among them. Content is random, so no step can compress it away.
# Manifests are signed with <pki-dir>'s signer (scripts/demo/sign-manifest.sh).
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: make-deployment.sh <pki-dir> <out-dir> <distribution MiB> <product MiB> <vdl MiB>" >&2
  exit 2
fi
pki=$(cd -- "$1" && pwd)
mkdir -p -- "$2"
out=$(cd -- "$2" && pwd)
dist_mib=$3
product_mib=$4
vdl_mib=$5
readonly version=2026.12.07
readonly epoch=1767225600 # 2026-01-01 00:00:00 UTC
here=$(cd -- "$(dirname -- "$0")" && pwd)
sign=$here/../scripts/demo/sign-manifest.sh
readonly isolinux_bin=/usr/lib/ISOLINUX/isolinux.bin
readonly ldlinux_c32=/usr/lib/syslinux/modules/bios/ldlinux.c32
for f in "$isolinux_bin" "$ldlinux_c32"; do
  [ -f "$f" ] || { echo "make-deployment.sh: $f is missing (isolinux, syslinux-common)" >&2; exit 1; }
done

staging=$(mktemp -d "$out/.staging-XXXXXX")
trap 'rm -rf -- "$staging"' EXIT

# Random files: fill <root> with <small bytes> of small files and <count> large files of
# <large bytes> each under <large dir>.
random_tree() { # root small-bytes large-count large-bytes large-dir
  python3 - "$@" <<'PY'
import os, random, sys
root, small_total, large_count, large_size, large_dir = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
rng = random.Random(5)
written, index = 0, 0
while written < small_total:
    size = min(rng.randint(1, 63) * 1024 - rng.randint(0, 1023), small_total - written)
    folder = os.path.join(root, "slax", "modules", "m%02d" % (index % 64))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%06d.dat" % index), "wb") as f:
        f.write(os.urandom(size))
    written += size
    index += 1
os.makedirs(os.path.join(root, large_dir), exist_ok=True)
for i in range(large_count):
    with open(os.path.join(root, large_dir, "part%d.sb" % i), "wb") as f:
        left = large_size
        while left > 0:
            n = min(left, 8 << 20)
            f.write(os.urandom(n))
            left -= n
PY
}

make_tar() { # dir output
  local list=$staging/tar-list
  find "$1" -exec touch -h -d "@$epoch" {} +
  (cd "$1" && find . -mindepth 1 \( -type d -o -type f \) -printf '%P\n' | LC_ALL=C sort) >"$list"
  tar --format=ustar -C "$1" --no-recursion -T "$list" -cf "$2" \
    --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --mode='u+rwX,go+rX,go-w'
}

dist_dir=$out/tools/orbe/1.1
prod_dir=$out/kavero/products/full/OEM/Lumo/current/unix
data_dir=$out/kavero/products/full/OEM/Lumo/data
mkdir -p "$dist_dir" "$prod_dir" "$data_dir"
readonly mib=$((1024 * 1024))

# The distribution.
dist=$staging/dist
mkdir -p "$dist/isolinux" "$dist/slax/boot"
cp -- "$isolinux_bin" "$dist/slax/boot/isolinux.bin"
cp -- "$ldlinux_c32" "$dist/isolinux/ldlinux.c32"
: >"$dist/slax/boot/isolinux.boot"
printf 'DEFAULT live\nLABEL live\n  KERNEL /slax/boot/vmlinuz\n' >"$dist/isolinux/isolinux.cfg"
random_tree "$dist" $((dist_mib * mib / 2)) 4 $((dist_mib * mib / 8)) slax/base
make_tar "$dist" "$dist_dir/KaveroLive-SLAX.tar"
rm -rf -- "$dist"
bash "$sign" "$pki" "$dist_dir/KaveroLive-SLAX.tar" "$dist_dir/KaveroLive-SLAX_manifest.dat"

# The product.
prod=$staging/product
mkdir -p "$prod/kavero/bin" "$prod/kavero/etc" "$prod/kavero/lib"
printf '#!/bin/sh\necho "Kavero bench scanner"\n' >"$prod/kavero/bin/avscan"
chmod 0755 "$prod/kavero/bin/avscan"
printf 'VdfPath=/slax/vdl.zip\n' >"$prod/kavero/etc/avscan.conf"
head -c $((product_mib * mib * 3 / 4)) /dev/urandom >"$prod/kavero/lib/libscan.so"
head -c $((product_mib * mib / 4)) /dev/urandom >"$prod/kavero/lib/engine.dat"
make_tar "$prod" "$prod_dir/linux.intel.libc6.glibc.2.2.tar"
rm -rf -- "$prod"
bash "$sign" "$pki" "$prod_dir/linux.intel.libc6.glibc.2.2.tar" \
  "$prod_dir/linux.intel.libc6.glibc.2.2.manifest"

# The virus data (stored members) and the identity update.
vdl=$staging/vdl
mkdir -p "$vdl/vdf"
printf '%s\n' "$version" >"$vdl/virusDataVersion.txt"
for i in 0 1 2 3 4 5 6 7; do
  head -c $((vdl_mib * mib / 8)) /dev/urandom >"$vdl/vdf/vbase00$i.vdf"
done
(cd "$vdl" && zip -q -X -0 -r "$staging/vdl.zip" virusDataVersion.txt vdf)
mv -- "$staging/vdl.zip" "$data_dir/vdl.zip"
printf 'identity update %s\n' "$version" >"$staging/ide_$version.dat"
(cd "$staging" && zip -q -X "$data_dir/ide_$version.zip" "ide_$version.dat")
