#!/usr/bin/env bash
# Builds the Debian package of the build folder $1 in a scratch folder, unpacks it into a
# temporary root and checks what a user gets: the tool runs and prints its usage, the manual
# page formats cleanly and documents every option of that usage, the control fields name
# the libraries and the ISO program, and lintian reports no error. Also checks that
# cmake --install puts the same files under a prefix. Exit 77 (skip) without the Debian tools.
set -euo pipefail

build=$(cd "${1:?usage: package_test.sh <build folder>}" && pwd)
for tool in cpack dpkg-deb man; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log") || {
  cat "$scratch/cpack.log"
  exit 1
}
debs=("$scratch"/out/orbec_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single orbec_*.deb"; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Control fields.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libcurl4 libssl3 libzip4 "xorriso | genisoimage"; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks '$needed': $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = syslinux-utils ] || fail "Recommends is not syslinux-utils"

# The installed tool: no arguments print the usage and end with status 1.
root=$scratch/root
dpkg -x "$deb" "$root"
status=0
"$root/usr/bin/orbec" >"$scratch/usage.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "orbec without arguments exited with $status, not 1"
grep -qxF "Usage: orbec [options] <output file>" "$scratch/usage.txt" ||
  fail "orbec without arguments printed no usage: $(cat "$scratch/usage.txt")"

# The manual page formats without warnings and has an entry for -u and every option the
# installed tool's usage lists.
page=$root/usr/share/man/man1/orbec.1.gz
MANWIDTH=80 man --warnings -l "$page" >"$scratch/man.txt" 2>"$scratch/man.err" ||
  fail "man -l $page failed: $(cat "$scratch/man.err")"
[ ! -s "$scratch/man.err" ] || fail "man reports: $(cat "$scratch/man.err")"
options=$(sed -n 's/^    \(-[A-Za-z]\)\b.*/\1/p' "$scratch/usage.txt")
for option in -u $options; do
  grep -qE "^ +$option( |$)" "$scratch/man.txt" || fail "the manual page has no entry for $option"
done
[ -f "$root/usr/share/doc/orbec/copyright" ] || fail "no /usr/share/doc/orbec/copyright"

# cmake --install puts the tool and the page under any prefix.
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
[ -x "$scratch/prefix/bin/orbec" ] || fail "cmake --install put no bin/orbec"
[ -f "$scratch/prefix/share/man/man1/orbec.1.gz" ] || fail "cmake --install put no orbec.1.gz"

if command -v lintian >/dev/null; then
  as_root=()
  [ "$(id -u)" -ne 0 ] || as_root=(--allow-root)
  lintian "${as_root[@]}" --display-info "$deb" >"$scratch/lintian.txt" 2>&1 || true
  cat "$scratch/lintian.txt"
  if grep -q '^E:' "$scratch/lintian.txt"; then fail "lintian reports errors"; fi
else
  echo "lintian is not installed: its checks were not run"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package test passed"
