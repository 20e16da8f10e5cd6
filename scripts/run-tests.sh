#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs what is missing, builds with warnings as
# errors, and runs every test (unit tests, loopback servers, end to end, the boot in QEMU).
#   scripts/run-tests.sh [build-dir]      (default: build)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBEC_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
