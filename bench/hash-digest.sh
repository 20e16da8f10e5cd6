#!/usr/bin/env bash
# Compares the SHA-1 throughput of FileDigest with sha1sum on the same file, both reading it
# from the page cache, each timed from outside its process. Prints both rates and their ratio (FileDigest / sha1sum; goal >= 0.95).
#   bench/hash-digest.sh [build folder] [size in MiB]      (defaults: build, 1024)
set -euo pipefail

build=${1:-build}
size_mib=${2:-1024}
rounds=3
source_dir=$(cd "$(dirname "$0")/.." && pwd)

cmake --build "$build" --target orbec_hash_bench >/dev/null
bench="$build/bench/orbec_hash_bench"

work=$(mktemp -d "${TMPDIR:-/tmp}/orbec-hash-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
data="$work/data.bin"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$data"
cat "$data" > /dev/null  # into the page cache

now() { date +%s.%N; }

best_sha1sum=""
best_ours=""
for _ in $(seq "$rounds"); do
  start=$(now)
  expected=$(sha1sum "$data" | cut -d' ' -f1)
  seconds=$(echo "$(now) - $start" | bc -l)
  if [ -z "$best_sha1sum" ] || [ "$(echo "$seconds < $best_sha1sum" | bc -l)" = 1 ]; then
    best_sha1sum=$seconds
  fi

  start=$(now)
  read -r digest _ _ < <("$bench" "$data")
  seconds=$(echo "$(now) - $start" | bc -l)
  if [ "$digest" != "$expected" ]; then
    echo "digest mismatch: FileDigest $digest, sha1sum $expected" >&2
    exit 1
  fi
  if [ -z "$best_ours" ] || [ "$(echo "$seconds < $best_ours" | bc -l)" = 1 ]; then
    best_ours=$seconds
  fi
done

rate() { echo "scale=1; $size_mib / $1" | bc -l; }
printf 'file: %d MiB, best of %d rounds each (source %s)\n' "$size_mib" "$rounds" "$source_dir"
printf 'sha1sum:    %8s MiB/s\n' "$(rate "$best_sha1sum")"
printf 'FileDigest: %8s MiB/s\n' "$(rate "$best_ours")"
printf 'ratio FileDigest/sha1sum: %s (goal >= 0.95)\n' \
  "$(echo "scale=3; $best_sha1sum / $best_ours" | bc -l)"
