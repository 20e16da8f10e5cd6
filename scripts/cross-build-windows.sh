#!/usr/bin/env bash
# Builds orbec.exe (and its test programs) for 64-bit Windows with mingw-w64, warnings as
# errors, with the same deployment settings as the Linux build.
#   scripts/cross-build-windows.sh [build-dir] [extra cmake -D options...]   (default: build-win)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-win}
shift || true

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBEC_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-toolchain.cmake" "$@" >/dev/null
cmake --build "$build"

# Only Windows' own DLLs may be needed.
dlls=$(x86_64-w64-mingw32-objdump -p "$build/orbec.exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
allowed='^(KERNEL32|ADVAPI32|CRYPT32|WININET|VERSION|msvcrt|USER32|SHELL32|WS2_32|bcrypt|ntdll)\.dll$'
foreign=$(grep -viE "$allowed" <<<"$dlls" || true)
if [ -n "$foreign" ]; then
  echo "orbec.exe needs DLLs that Windows does not have: $foreign" >&2
  exit 1
fi
echo "Built $build/orbec.exe (needs $(tr '\n' ' ' <<<"$dlls"))"
