#!/usr/bin/env bash
# Builds an image with a configured and built orbec against its local demo mirror:
#   build-image.sh <build-dir> <output.iso> [orbec options...]
#
# The mirror content is made (once) in <build-dir>/demo-mirror, signed with <build-dir>/pki,
# the PKI whose root and CRL that orbec carries. A loopback server serves it on the address,
# account and password the build was configured with, for exactly the length of the run.
# Exits with orbec's exit status.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: build-image.sh <build-dir> <output.iso> [orbec options...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
output=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
server=$(cache_value ORBEC_SERVER)
account=$(cache_value ORBEC_ACCOUNT)
password=$(cache_value ORBEC_PASSWORD)
if ! [[ $server =~ ^http://([^/:]+):([0-9]+)$ ]]; then
  echo "build-image.sh: the demo mirror serves http://host:port; this build uses '$server'" >&2
  exit 1
fi
host=${BASH_REMATCH[1]}
port=${BASH_REMATCH[2]}

mirror=$("$here/prepare-mirror.sh" "$build")

log=$(mktemp)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -f -- "$log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

/usr/bin/python3 "$source_dir/tests/support/http_server.py" --root "$mirror" --bind "$host" \
  --port "$port" --user "$account" --password "$password" >"$log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$log" && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "build-image.sh: the demo mirror could not listen on $host:$port:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done

status=0
if [ -f "$build/orbec.exe" ]; then
  # A Windows build runs under wine.
  "$source_dir/scripts/wine-run.sh" "$build/orbec.exe" "$@" "$output" || status=$?
else
  "$build/orbec" "$@" "$output" || status=$?
fi
exit "$status"
