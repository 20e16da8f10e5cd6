#!/usr/bin/env bash
# Boots an image in QEMU (software emulation) and checks that the demo system came up and
# found on its medium what the demo mirror served:
#   boot-test.sh [--disk] <image> [timeout-seconds]
#
# The machine boots from the image as a CD, or with --disk as a raw hard disk (which needs an
# image with a master boot record, such as one made by isohybrid), with its serial port
# written to a log file. The test passes (exit 0) as soon as the line "ORBEC-DEMO-BOOT-OK"
# appears in that log; the demo system prints it only when the files and the label it checks
# on its medium are the expected ones. It fails (exit 1, printing the end of the log) when
# the system reports "ORBEC-DEMO-BOOT-FAILED", when QEMU stops, or when the time limit
# (default 240 s) runs out first. QEMU is always stopped and the log removed before the
# script ends. The disk is opened in snapshot mode, so the image is never written.
# ORBEC_BOOT_LOG=<file> keeps a copy of the serial log.
set -euo pipefail

readonly marker=ORBEC-DEMO-BOOT-OK
readonly fail_marker=ORBEC-DEMO-BOOT-FAILED

media=(-cdrom)
boot=(-boot d)
if [ "${1-}" = --disk ]; then
  shift
  media=(-drive)
  # A disk without a boot record makes the firmware retry after 60 s; here it resets at
  # once instead, which ends QEMU (-no-reboot).
  boot=(-boot "order=c,reboot-timeout=0")
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: boot-test.sh [--disk] <image> [timeout-seconds]" >&2
  exit 2
fi
iso=$1
limit=${2:-240}
if ! [[ $limit =~ ^[1-9][0-9]*$ ]]; then
  echo "boot-test.sh: the time limit must be a positive number of seconds: $limit" >&2
  exit 2
fi
if [ ! -f "$iso" ]; then
  echo "boot-test.sh: $iso is not a file" >&2
  exit 1
fi
if [ "${media[0]}" = -drive ]; then
  # QEMU splits -drive values at commas; a doubled comma stands for one.
  media+=("file=${iso//,/,,},format=raw,if=ide,snapshot=on")
else
  media+=("$iso")
fi
qemu=$(command -v qemu-system-x86_64 || true)
if [ -z "$qemu" ]; then
  echo "boot-test.sh: qemu-system-x86_64 is missing (Debian package qemu-system-x86)" >&2
  exit 1
fi

tmp=$(mktemp -d)
qemu_pid=
stop_qemu() {
  if [ -n "$qemu_pid" ]; then
    kill "$qemu_pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      kill -0 "$qemu_pid" 2>/dev/null || break
      sleep 0.5
    done
    kill -KILL "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
    qemu_pid=
  fi
}
# shellcheck disable=SC2317 # runs from the EXIT trap
cleanup() {
  stop_qemu
  if [ -n "${ORBEC_BOOT_LOG:-}" ] && [ -f "$tmp/serial.log" ]; then
    cp -- "$tmp/serial.log" "$ORBEC_BOOT_LOG" || true
  fi
  rm -rf -- "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

: >"$tmp/serial.log"
# No network card: its option ROM only slows the firmware down.
"$qemu" -accel tcg -m 256 -smp 1 -no-reboot -display none -monitor none -nic none \
  -serial "file:$tmp/serial.log" "${media[@]}" "${boot[@]}" \
  </dev/null >"$tmp/qemu.out" 2>&1 &
qemu_pid=$!

start=$SECONDS
found=0
while [ $((SECONDS - start)) -lt "$limit" ]; do
  if grep -qa "$marker" "$tmp/serial.log"; then
    found=1
    break
  fi
  grep -qa "$fail_marker" "$tmp/serial.log" && break
  if ! kill -0 "$qemu_pid" 2>/dev/null; then
    # QEMU ended (power-off, reboot or error); the log is complete now.
    grep -qa "$marker" "$tmp/serial.log" && found=1
    break
  fi
  sleep 0.5
done
elapsed=$((SECONDS - start))

if [ "$found" -eq 1 ]; then
  # Give the system a moment to power off by itself before QEMU is stopped.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 0.5
  done
  stop_qemu
  grep -a "^ORBEC-CHECK " "$tmp/serial.log" | tr -d '\r' || true
  echo "boot-test.sh: $iso booted to the marker in about ${elapsed} s"
  exit 0
fi

if grep -qa "$fail_marker" "$tmp/serial.log"; then
  reason="the booted system's checks failed after about ${elapsed} s"
elif kill -0 "$qemu_pid" 2>/dev/null; then
  reason="no marker within ${limit} s"
else
  reason="QEMU stopped after about ${elapsed} s without the marker"
fi
stop_qemu
{
  echo "boot-test.sh: $iso: $reason"
  if [ -s "$tmp/qemu.out" ]; then
    echo "--- QEMU output ---"
    tail -n 20 "$tmp/qemu.out"
  fi
  echo "--- serial log (last 40 lines) ---"
  tail -n 40 "$tmp/serial.log" | tr -d '\r'
} >&2
exit 1
