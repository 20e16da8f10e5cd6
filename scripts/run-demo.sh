#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds orbec, builds the local
# demo mirror, serves it for one run of orbec, and says where the image is.
#   scripts/run-demo.sh [output.iso]      (default: out/orbec-demo.iso)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output=${1:-$top/out/orbec-demo.iso}
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target orbec

status=0
"$top/scripts/demo/build-image.sh" "$top/build" "$output" || status=$?
if [ "$status" -eq 0 ]; then
  echo "The image is at $output"
  echo "Boot it with: scripts/demo/boot-test.sh [--firmware uefi|secure-boot] $output"
else
  echo "orbec failed with exit status $status" >&2
fi
exit "$status"
