#!/usr/bin/env bash
# Boots an image in QEMU (software emulation) and checks that the demo system came up and
# found on its medium what the demo mirror served:
#   boot-test.sh [--disk] [--firmware bios|uefi|secure-boot] [--require-secure-boot]
#                <image> [timeout-seconds]
#
# The machine boots from the image as a CD, or with --disk as a raw hard disk (which needs an
# image with a master boot record, such as one made by isohybrid, and under UEFI an EFI
# partition, as isohybrid --uefi makes), with its serial port written to a log file. Its
# firmware is SeaBIOS (bios, the default), OVMF (uefi), or OVMF on a q35 machine with SMM
# enforcing Secure Boot with Microsoft's keys enrolled (secure-boot; Debian package ovmf);
# each UEFI boot starts from a fresh copy of the firmware's variable store.
#
# The test passes (exit 0) as soon as the line "ORBEC-DEMO-BOOT-OK" appears in that log; the
# demo system prints it only when the files and the label it checks on its medium are the
# expected ones. With --require-secure-boot it passes only when the booted system also
# reported "ORBEC-CHECK firmware UEFI secure-boot on". It fails (exit 1, printing the end of
# the log) when the system reports "ORBEC-DEMO-BOOT-FAILED", when the log shows a "Security
# Violation" (a loader's signature did not verify; shim then waits for a key press), when
# QEMU stops, or when the time limit (default 240 s) runs out first. QEMU is always stopped
# and the log removed before the script ends. The disk is opened in snapshot mode, so the
# image is never written.
# ORBEC_BOOT_LOG=<file> keeps a copy of the serial log.
set -euo pipefail

readonly marker=ORBEC-DEMO-BOOT-OK
readonly fail_marker=ORBEC-DEMO-BOOT-FAILED

readonly secure_line="ORBEC-CHECK firmware UEFI secure-boot on"
readonly violation="Security Violation"
readonly ovmf=/usr/share/OVMF

usage() {
  echo "usage: boot-test.sh [--disk] [--firmware bios|uefi|secure-boot] [--require-secure-boot] <image> [timeout-seconds]" >&2
  exit 2
}
disk=0
firmware=bios
require_secure=0
while [ $# -gt 0 ]; do
  case $1 in
    --disk) disk=1 ;;
    --firmware)
      [ $# -ge 2 ] || usage
      case $2 in bios | uefi | secure-boot) firmware=$2 ;; *) usage ;; esac
      shift
      ;;
    --require-secure-boot) require_secure=1 ;;
    --) shift && break ;;
    -*) usage ;;
    *) break ;;
  esac
  shift
done
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  usage
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
qemu=$(command -v qemu-system-x86_64 || true)
if [ -z "$qemu" ]; then
  echo "boot-test.sh: qemu-system-x86_64 is missing (Debian package qemu-system-x86)" >&2
  exit 1
fi
# The firmware code and the variable store it starts from: with Secure Boot, the code built
# for it (it needs SMM) and the variables with Microsoft's keys, which turn enforcement on.
case $firmware in
  uefi) code=$ovmf/OVMF_CODE_4M.fd vars=$ovmf/OVMF_VARS_4M.fd ;;
  secure-boot) code=$ovmf/OVMF_CODE_4M.secboot.fd vars=$ovmf/OVMF_VARS_4M.ms.fd ;;
  *) code='' vars='' ;;
esac
for f in $code $vars; do
  if [ ! -f "$f" ]; then
    echo "boot-test.sh: $f is missing (Debian package ovmf)" >&2
    exit 1
  fi
done

# QEMU splits -drive values at commas; a doubled comma stands for one.
drive="file=${iso//,/,,},format=raw,snapshot=on"
if [ "$disk" -eq 0 ]; then
  media=(-cdrom "$iso")
  boot=(-boot d)
elif [ -z "$code" ]; then
  media=(-drive "$drive,if=ide")
  # A disk without a boot record makes the firmware retry after 60 s; here it resets at
  # once instead, which ends QEMU (-no-reboot).
  boot=(-boot "order=c,reboot-timeout=0")
else
  media=(-drive "$drive,if=none,id=disk0" -device "ide-hd,drive=disk0")
  boot=()
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

machine=(-m 256)
if [ -n "$code" ]; then
  # GRUB under OVMF runs out of memory with 256 MiB.
  machine=(-m 512)
  if [ "$firmware" = secure-boot ]; then
    # Only code running in SMM may write the variable store, so the OS cannot turn Secure
    # Boot off.
    machine+=(-machine "q35,smm=on" -global "driver=cfi.pflash01,property=secure,value=on")
  fi
  cp -- "$vars" "$tmp/vars.fd"
  chmod u+w -- "$tmp/vars.fd"
  machine+=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=$code"
    -drive "if=pflash,format=raw,unit=1,file=$tmp/vars.fd")
fi

: >"$tmp/serial.log"
# No network card: its option ROM only slows the firmware down.
"$qemu" -accel tcg "${machine[@]}" -smp 1 -no-reboot -display none -monitor none -nic none \
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
  grep -qa "$violation" "$tmp/serial.log" && break
  if ! kill -0 "$qemu_pid" 2>/dev/null; then
    # QEMU ended (power-off, reboot or error); the log is complete now.
    grep -qa "$marker" "$tmp/serial.log" && found=1
    break
  fi
  sleep 0.5
done
elapsed=$((SECONDS - start))

secure_missing=0
if [ "$found" -eq 1 ] && [ "$require_secure" -eq 1 ] &&
  ! tr -d '\r' <"$tmp/serial.log" | grep -qx "$secure_line"; then
  found=0
  secure_missing=1
fi

if [ "$found" -eq 1 ]; then
  # Give the system a moment to power off by itself before QEMU is stopped.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 0.5
  done
  stop_qemu
  grep -a "^ORBEC-CHECK " "$tmp/serial.log" | tr -d '\r' || true
  echo "boot-test.sh: $iso booted to the marker ($firmware$([ "$disk" -eq 1 ] && echo ", disk")) in about ${elapsed} s"
  exit 0
fi

if [ "$secure_missing" -eq 1 ]; then
  reason="the system booted to the marker, but not with Secure Boot on"
elif grep -qa "$violation" "$tmp/serial.log"; then
  reason="Secure Boot refused a loader whose signature did not verify, after about ${elapsed} s"
elif grep -qa "$fail_marker" "$tmp/serial.log"; then
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
