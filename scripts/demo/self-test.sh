#!/usr/bin/env bash
# Tests the demo mirror scripts end to end, in a temporary folder that is removed afterwards:
#   self-test.sh [boot-timeout-seconds]
#
#  1. mints a demo PKI, builds the mirror content and checks it with check_mirror.py;
#  2. shows that check_mirror.py catches a tar with a name prefix and a symbolic link, a
#     manifest whose body was changed, one with a byte after its last block, and one signed
#     through another PKI;
#  3. unpacks the distribution as orbec does, adds the product and the data archives, runs
#     the image program with orbec's arguments and checks the El Torito boot records (BIOS
#     and UEFI);
#  4. boots the image with boot-test.sh (must reach the marker), and as a disk once isohybrid
#     gave it a boot record (must reach the marker too), then shows that boot-test.sh fails
#     for a boot on UEFI without Secure Boot when Secure Boot is required,
#     for the image with other virus data put in after the run (the booted system's check),
#     for the plain image booted as a disk (no boot record), for an image that panics (QEMU
#     stops early) and for one that never boots (time limit), leaving no QEMU process and no
#     temporary file behind.
# Prints the sizes and times measured. Exit 0 when every check passed.
set -euo pipefail

limit=${1:-240}
here=$(cd -- "$(dirname -- "$0")" && pwd)
root=$(cd -- "$here/../.." && pwd)
version=2026.12.07
label="ORBE $version"

tmp=$(mktemp -d)
trap 'rm -rf -- "$tmp"' EXIT

failures=0
pass() { echo "ok   $*"; }
fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}
# expect_problem <pattern> <command...>: the command must fail and name the pattern.
expect_problem() {
  local pattern=$1
  shift
  if "$@" >"$tmp/out" 2>&1; then
    fail "$* passed, expected: $pattern"
  elif grep -q -- "$pattern" "$tmp/out"; then
    pass "caught: $pattern"
  else
    fail "$* failed without naming '$pattern':"
    cat "$tmp/out" >&2
  fi
}
make_iso() { # folder output
  (cd "$1" && xorriso -as mkisofs -quiet -J -R -D -no-emul-boot -boot-info-table \
    -boot-load-size 4 -b slax/boot/isolinux.bin -c slax/boot/isolinux.boot \
    -eltorito-alt-boot -e slax/boot/efiboot.img -no-emul-boot -o "$2" \
    -A "$label" -V "$label" . 2>/dev/null)
}

# 1. Build and check the mirror.
bash "$root/scripts/make-demo-pki.sh" "$tmp/pki"
mirror=$tmp/mirror
t0=$SECONDS
bash "$here/build-mirror.sh" "$tmp/pki" "$mirror" "$version" 2>/dev/null
build_s=$((SECONDS - t0))
if python3 "$here/check_mirror.py" "$tmp/pki" "$mirror" "$version"; then
  pass "mirror content"
else
  fail "mirror content"
fi
dist_tar=$mirror/tools/orbe/1.1/KaveroLive-SLAX.tar
prod_dir=$mirror/kavero/products/full/OEM/Lumo/current/unix
data_dir=$mirror/kavero/products/full/OEM/Lumo/data

# 2. The checker finds the faults it exists for.
bad=$tmp/bad
mkdir -p "$bad/t/$(printf 'd%.0s' {1..60})/$(printf 'e%.0s' {1..60})"
ln -s target "$bad/t/link"
(cd "$bad/t" && tar --format=ustar -cf "$bad/bad.tar" .)
expect_problem "name prefix field is not empty" \
  python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import check_mirror as c
p = c.check_tar(sys.argv[2])[0]; print("\n".join(p)); sys.exit(1 if p else 0)' "$here" "$bad/bad.tar"
expect_problem "member type b'2'" \
  python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import check_mirror as c
p = c.check_tar(sys.argv[2])[0]; print("\n".join(p)); sys.exit(1 if p else 0)' "$here" "$bad/bad.tar"

manifest=$prod_dir/linux.intel.libc6.glibc.2.2.manifest
cp -- "$manifest" "$tmp/manifest.good"
sed -i '2s/" 1 \(.\)/" 1 0\1/; 2s/.$//' "$manifest"
expect_problem "does not verify over the body" \
  python3 "$here/check_mirror.py" "$tmp/pki" "$mirror" "$version"
cp -- "$tmp/manifest.good" "$manifest"
printf '\n' >>"$manifest"
expect_problem "1 bytes after the last block" \
  python3 "$here/check_mirror.py" "$tmp/pki" "$mirror" "$version"
bash "$root/scripts/make-demo-pki.sh" "$tmp/other-pki"
bash "$here/sign-manifest.sh" "$tmp/other-pki" "$prod_dir/linux.intel.libc6.glibc.2.2.tar" \
  "$manifest"
expect_problem "signer does not chain to the root" \
  python3 "$here/check_mirror.py" "$tmp/pki" "$mirror" "$version"
cp -- "$tmp/manifest.good" "$manifest"

# 3. The image, made as orbec makes it.
work=$tmp/work
mkdir -p "$work"
tar -xf "$dist_tar" -C "$work"
cp -- "$prod_dir/linux.intel.libc6.glibc.2.2.tar" "$data_dir/vdl.zip" \
  "$data_dir/ide_$version.zip" "$work/slax/"
if make_iso "$work" orbe.iso; then
  pass "image program"
else
  fail "image program"
fi
report=$(xorriso -indev "$work/orbe.iso" -report_el_torito plain 2>&1 || true)
if grep -q "El Torito img path :   1  /slax/boot/isolinux.bin" <<<"$report" &&
  grep -q "El Torito cat path : /slax/boot/isolinux.boot" <<<"$report" &&
  grep -q "El Torito img opts :   1  boot-info-table" <<<"$report" &&
  grep -Eq "El Torito boot img :   1  BIOS  y   none  0x0000  0x00      4 " <<<"$report" &&
  grep -q "El Torito img path :   2  /slax/boot/efiboot.img" <<<"$report" &&
  grep -Eq "El Torito boot img :   2  UEFI  y   none  0x0000  0x00 " <<<"$report" &&
  grep -q "Volume id    : '$label'" <<<"$report"; then
  pass "El Torito no-emulation boot records (BIOS: load size 4, boot information table; UEFI), volume id"
else
  fail "boot record:"
  echo "$report" >&2
fi

# 4. Boot it, and make boot-test.sh fail where it must.
export TMPDIR=$tmp/boot-tmp
mkdir -p "$TMPDIR"
t0=$SECONDS
if bash "$here/boot-test.sh" "$work/orbe.iso" "$limit"; then
  pass "boot to the marker"
else
  fail "boot to the marker"
fi
boot_s=$((SECONDS - t0))

# The same image made bootable from a disk, as orbec -u makes it.
disk_s=skipped
if command -v isohybrid >/dev/null; then
  cp -- "$work/orbe.iso" "$tmp/hybrid.iso"
  isohybrid --uefi "$tmp/hybrid.iso"
  t0=$SECONDS
  if bash "$here/boot-test.sh" --disk "$tmp/hybrid.iso" "$limit"; then
    pass "boot from a disk to the marker"
  else
    fail "boot from a disk to the marker"
  fi
  disk_s="$((SECONDS - t0)) s"
else
  echo "skip boot from a disk: isohybrid is missing (Debian package syslinux-utils)"
fi
expect_problem "QEMU stopped after" bash "$here/boot-test.sh" --disk "$work/orbe.iso" "$limit"
expect_problem "not with Secure Boot on" \
  bash "$here/boot-test.sh" --firmware uefi --require-secure-boot "$work/orbe.iso" "$limit"

# Other virus data, of the same version, put into the image after the run.
swapped=$tmp/swapped
cp -a -- "$work" "$swapped"
rm -f -- "$swapped/orbe.iso"
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("virusDataVersion.txt", sys.argv[2] + "\n")
    z.writestr("vdf/vbase000.vdf", "other virus definitions\n")' "$swapped/slax/vdl.zip" "$version"
make_iso "$swapped" "$tmp/swapped.iso"
expect_problem "ORBEC-CHECK slax/vdl.zip MISMATCH" \
  bash "$here/boot-test.sh" "$tmp/swapped.iso" "$limit"

panic=$tmp/panic
cp -a -- "$work" "$panic"
rm -f -- "$panic/orbe.iso"
sed -i '/INITRD/d' "$panic/isolinux/isolinux.cfg"
make_iso "$panic" "$tmp/panic.iso"
expect_problem "QEMU stopped after" bash "$here/boot-test.sh" "$tmp/panic.iso" "$limit"

mkdir -p "$tmp/nothing"
echo "no boot record" >"$tmp/nothing/README"
(cd "$tmp/nothing" && xorriso -as mkisofs -quiet -o "$tmp/noboot.iso" . 2>/dev/null)
expect_problem "no marker within 8 s" bash "$here/boot-test.sh" "$tmp/noboot.iso" 8

if pgrep -f -- "$tmp/" >/dev/null; then
  fail "a QEMU process outlived boot-test.sh"
else
  pass "no QEMU process left"
fi
if [ -n "$(ls -A "$TMPDIR")" ]; then
  fail "boot-test.sh left files: $(ls -A "$TMPDIR")"
else
  pass "no temporary file left"
fi

echo "distribution tar: $(stat -c %s "$dist_tar") bytes; image: $(stat -c %s "$work/orbe.iso") bytes"
echo "mirror build: ${build_s} s; boot to the marker (QEMU, TCG): ${boot_s} s, from a disk: ${disk_s}"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all demo checks passed"
