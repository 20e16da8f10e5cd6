#!/usr/bin/env bash
# The subsystems depend downwards only: platform at the bottom; verify on nothing of ours;
# archive on platform; download on platform and verify; app on all of them. Every include of
# "<subsystem>/..." in src/ is checked against that.
#   scripts/check-layering.sh [source-folder]   (default: the checkout's src)
#   scripts/check-layering.sh --self-test       (a wrong-way include planted in a copy must fail)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ "${1:-}" = --self-test ]; then
  copy=$(mktemp -d)
  trap 'rm -rf -- "$copy"' EXIT
  cp -r "$top/src" "$copy/src"
  "$0" "$copy/src" >/dev/null || { echo "check-layering: self-test: the sources do not pass" >&2; exit 1; }
  echo '#include "app/pipeline.h"' >>"$copy/src/archive/tar_header.h"
  if "$0" "$copy/src" 2>/dev/null; then
    echo "check-layering: self-test: a planted include of app/ from archive/ was not found" >&2
    exit 1
  fi
  echo "check-layering: self-test passed (a planted wrong-way include fails the check)"
  exit 0
fi

src=${1:-$top/src}
declare -A allowed=(
  [platform]="platform"
  [verify]="verify"
  [archive]="archive platform"
  [download]="download platform verify"
  [app]="app download archive verify platform"
)

status=0
checked=0
for layer in "${!allowed[@]}"; do
  [ -d "$src/$layer" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z_]+)\/.*/\1/' <<<"$text")
    [ -n "${allowed[$target]+known}" ] || continue
    checked=$((checked + 1))
    if ! [[ " ${allowed[$layer]} " == *" $target "* ]]; then
      echo "check-layering: ${file#"$src"/}:$line: $layer may not include $target/ (${text//[[:space:]]/ })" >&2
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$src/$layer" || true)
done
[ "$status" = 0 ] && echo "check-layering: $checked includes of subsystem headers, none against the layering"
exit "$status"
