#!/usr/bin/env bash
# Makes the demo mirror content of a build once, in <build-dir>/demo-mirror, signed with the
# build's PKI, and prints its path. Made again when the build's PKI or build-mirror.sh is
# newer, so that a changed demo system reaches the boot test; for a Windows build also when its
# stand-in image program is newer.
#   prepare-mirror.sh <build-dir>
set -euo pipefail

build=$(cd "${1:?usage: prepare-mirror.sh <build-dir>}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mirror=$build/demo-mirror
# A Windows build's distribution carries the build's stand-in image program.
if [ -f "$build/tests/mkisofs.exe" ]; then
  export ORBEC_DEMO_WIN_MKISOFS=$build/tests/mkisofs.exe
fi
if [ ! -f "$mirror/.complete" ] || [ "$build/pki/signer.crt" -nt "$mirror/.complete" ] ||
  [ "$here/build-mirror.sh" -nt "$mirror/.complete" ] ||
  [ "${ORBEC_DEMO_WIN_MKISOFS:-$mirror/.complete}" -nt "$mirror/.complete" ]; then
  rm -rf "$mirror"
  bash "$here/build-mirror.sh" "$build/pki" "$mirror" >&2
  touch "$mirror/.complete"
fi
echo "$mirror"
