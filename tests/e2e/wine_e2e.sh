#!/usr/bin/env bash
# orbec.exe end to end under wine, against the demo mirror: a good run, the failures a user
# meets (no image program, the image program failing, a missing identity archive, a changed
# product manifest, Ctrl+C during a download) and links in the work folder. Meant to run in a
# network namespace of its own (tests/e2e/isolated.sh), with a wine prefix and a wineserver of
# its own, so the mirror can take the port the build was configured with.
#   wine_e2e.sh <source-dir> <windows-build-dir> [--boot]
# --boot also boots the image built under wine in QEMU (BIOS, UEFI, UEFI with Secure Boot).
set -euo pipefail

src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
boot=${3:-}
exe=$build/orbec.exe
standin=$build/tests/mkisofs.exe
for f in "$exe" "$standin"; do
  [ -f "$f" ] || { echo "wine_e2e.sh: $f is missing (scripts/cross-build-windows.sh builds it)" >&2; exit 1; }
done

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
server=$(cache_value ORBEC_SERVER)
[[ $server =~ ^http://([^/:]+):([0-9]+)$ ]] || { echo "wine_e2e.sh: needs an http://host:port server, not $server" >&2; exit 1; }
host=${BASH_REMATCH[1]}
port=${BASH_REMATCH[2]}
account=$(cache_value ORBEC_ACCOUNT)
password=$(cache_value ORBEC_PASSWORD)

work=$(mktemp -d /tmp/orbec-wine-e2e.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
other=
cleanup() {
  stop_server
  "$wineserver" -k 2>/dev/null || true
  rm -rf -- "$work" ${other:+"$other"}
}
trap cleanup EXIT

mirror=$("$src/scripts/demo/prepare-mirror.sh" "$build")
version=$(ls "$mirror/kavero/products/full/OEM/Lumo/data" | sed -n 's/^ide_\(.*\)\.zip$/\1/p')

# The prefix, its temporary folder (a Linux folder we can look into) and a wineserver that
# lives in this namespace for the whole script.
temp=$work/temp
mkdir -p "$temp"
"$src/scripts/wine-run.sh" reg add 'HKCU\Environment' /v TEMP /d "Z:${temp//\//\\}" /f >/dev/null
"$src/scripts/wine-run.sh" reg add 'HKCU\Environment' /v TMP /d "Z:${temp//\//\\}" /f >/dev/null
"$wineserver" -w # a running server refuses -p
"$wineserver" -p </dev/null >/dev/null 2>&1
# Wine's service processes start with the first program and keep its streams: not ours.
"$src/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true

serve() { # root [rules-file]
  stop_server
  local args=(--root "$1" --bind "$host" --port "$port" --user "$account" --password "$password")
  [ -n "${2:-}" ] && args+=(--rules "$2")
  /usr/bin/python3 "$src/tests/support/http_server.py" "${args[@]}" >"$work/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    grep -q '^PORT ' "$work/server.log" && return 0
    sleep 0.1
  done
  echo "wine_e2e.sh: the mirror did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
}

# A copy of the mirror to change; files are hard links, so change them by replacing.
mirror_copy() { rm -rf "$work/mirror2" && cp -al "$mirror" "$work/mirror2" && echo "$work/mirror2"; }

failures=0
passes=0
check() { # description command...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
    echo "PASS: $what"
  else
    failures=$((failures + 1))
    echo "FAIL: $what"
    sed 's/^/  the last run'"'"'s standard error: /' "$work/err.txt" 2>/dev/null | head -5 || true
  fi
}

run_orbec() { # output-file [options...]: sets status, out and err
  local output=$1
  shift
  status=0
  ORBEC_STANDIN_RECORD=$work/standin.txt "$src/scripts/wine-run.sh" "$exe" "$@" "$output" \
    >"$work/out.txt" 2>"$work/err.txt" || status=$?
}

nothing_left() { [ -z "$(ls -A "$temp")" ]; }
# Under wine no Windows call removes a Linux symbolic link as itself (deleting one deletes its
# target), so the tree removal leaves such a link where it is; nothing else may stay.
only_link_left() { # link-name
  local left
  left=$(cd "$temp" && find . -mindepth 1 ! -path ./KaveroBootableAvTempFolder \
    ! -path "./KaveroBootableAvTempFolder/$1")
  [ -z "$left" ]
}
crlf_text() { printf '%s\r\n' "$@"; }

prod_dir=kavero/products/full/OEM/Lumo/current/unix
data_dir=kavero/products/full/OEM/Lumo/data

# 1. A good run: the step lines of the Linux run with CRLF line ends, the stand-in started
# with the exact command line in the work folder, a bootable image with the right label.
serve "$mirror"
rm -f "$work/standin.txt"
run_orbec "$work/out.iso"
expected=$(crlf_text "Orbec Bootable Anti-Virus CD Builder v1.1.6" \
  "Copyright (C) 2026 The orbec developers" "" \
  "Downloading Linux distribution from Kavero..." "Downloading the manifest file..." \
  "Integrity successfully verified." "Unpacking Linux distribution..." \
  "Downloading Kavero Anti-Virus for Linux..." "Downloading the manifest file..." \
  "Integrity successfully verified." "Downloading virus data..." \
  "Determining virus data version..." \
  "Downloading latest identities for virus data $version..." \
  "Creating the ISO image: $work/out.iso..." "ISO image successfully created")
check "good run exits 0" test "$status" -eq 0
check "good run prints the step lines with CRLF" test "$(cat "$work/out.txt")" = "$expected"
cmdline="\"slax/tools/WIN/mkisofs.exe\" -quiet -J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b \"slax/boot/isolinux.bin\" -c \"slax/boot/isolinux.boot\" -eltorito-alt-boot -e \"slax/boot/efiboot.img\" -no-emul-boot -o \"orbe.iso\" -A \"ORBE $version\" -V \"ORBE $version\" ."
check "the stand-in got the exact command line" grep -qxF "command line: $cmdline" "$work/standin.txt"
workdir_win="Z:${temp//\//\\}\\KaveroBootableAvTempFolder"
check "the stand-in ran in the work folder" grep -qixF "current folder: $workdir_win" "$work/standin.txt"
report=$(xorriso -indev "$work/out.iso" -report_el_torito plain -pvd_info 2>/dev/null || true)
check "the image boots isolinux without emulation" grep -qE 'El Torito boot img : +1 +BIOS +y +none' <<<"$report"
check "the image's label is ORBE <version>" grep -qx "Volume Id    : ORBE $version" <<<"$report"
check "a good run leaves nothing in the temporary folder" nothing_left

# Verbosity 2 passes -v instead of -quiet.
rm -f "$work/standin.txt"
run_orbec "$work/out-v.iso" -v
check "verbose run exits 0" test "$status" -eq 0
check "verbose run passes -v" grep -qxF "command line: ${cmdline/-quiet/-v}" "$work/standin.txt"
rm -f "$work/out-v.iso"

if [ "$boot" = --boot ]; then
  check "the image built under wine boots to the demo marker" \
    "$src/scripts/demo/boot-test.sh" "$work/out.iso"
  check "the image built under wine boots on UEFI" \
    "$src/scripts/demo/boot-test.sh" --firmware uefi "$work/out.iso"
  check "the image built under wine boots with Secure Boot enforced" \
    "$src/scripts/demo/boot-test.sh" --firmware secure-boot --require-secure-boot "$work/out.iso"
fi

# 2. The stand-in exits 3.
ORBEC_STANDIN_EXIT=3 run_orbec "$work/fail.iso"
check "image program exit 3: status 1" test "$status" -eq 1
check "image program exit 3: message" grep -qxF $'mkisofs failed with exit code 3\r' "$work/err.txt"
check "image program exit 3: nothing left" nothing_left
check "image program exit 3: no output file" test ! -e "$work/fail.iso"

# 3. A distribution without slax/tools/WIN/mkisofs.exe (signed as such).
m=$(mirror_copy)
rm -rf "$work/dist" && mkdir "$work/dist"
tar -xf "$mirror/tools/orbe/1.1/KaveroLive-SLAX.tar" -C "$work/dist"
rm "$work/dist/slax/tools/WIN/mkisofs.exe"
rm "$m/tools/orbe/1.1/KaveroLive-SLAX.tar" "$m/tools/orbe/1.1/KaveroLive-SLAX_manifest.dat"
tar --format=ustar -C "$work/dist" -cf "$m/tools/orbe/1.1/KaveroLive-SLAX.tar" .
bash "$src/scripts/demo/sign-manifest.sh" "$build/pki" "$m/tools/orbe/1.1/KaveroLive-SLAX.tar" \
  "$m/tools/orbe/1.1/KaveroLive-SLAX_manifest.dat"
serve "$m"
run_orbec "$work/fail.iso"
check "no image program: status 1" test "$status" -eq 1
check "no image program: message" cmp -s "$work/err.txt" <(crlf_text "Failed to launch mkisofs: File not found.")
check "no image program: nothing left" nothing_left

# 4. No identity archive on the server: said so, and the image is made without one.
m=$(mirror_copy)
rm "$m/$data_dir/ide_$version.zip"
serve "$m"
run_orbec "$work/noide.iso"
check "missing identities: status 0" test "$status" -eq 0
check "missing identities: download message" grep -qxF $'Download failed: The file does not exist.\r' "$work/err.txt"
check "missing identities: no newer identities" grep -qxF $'No newer identities found\r' "$work/out.txt"
check "missing identities: the image is made" test -s "$work/noide.iso"
check "missing identities: nothing left" nothing_left
rm -f "$work/noide.iso"

# 5. A product manifest with one changed byte: refused twice, the run fails.
m=$(mirror_copy)
manifest=$m/$prod_dir/linux.intel.libc6.glibc.2.2.manifest
cp --remove-destination "$mirror/$prod_dir/linux.intel.libc6.glibc.2.2.manifest" "$manifest"
printf 'X' | dd of="$manifest" bs=1 seek=10 conv=notrunc status=none
serve "$m"
run_orbec "$work/fail.iso"
check "changed manifest: status 1" test "$status" -eq 1
check "changed manifest: verification message" grep -q '^Manifest verification: ' "$work/err.txt"
check "changed manifest: nothing left" nothing_left

# 6. A leftover work folder holding links to a folder and a file outside: the run succeeds,
# the targets and their content stay, nothing but the links is left.
mkdir -p "$work/outside" "$temp/KaveroBootableAvTempFolder"
echo keep >"$work/outside/file"
ln -s "$work/outside" "$temp/KaveroBootableAvTempFolder/link"
ln -s "$work/outside/file" "$temp/KaveroBootableAvTempFolder/filelink"
serve "$mirror"
run_orbec "$work/out2.iso"
check "leftover links: run exits 0" test "$status" -eq 0
check "leftover links: their targets survive" test "$(cat "$work/outside/file")" = keep
check "leftover links: nothing but the links is left" only_link_left '*link'
rm -rf "$work/out2.iso" "${temp:?}"/* "${temp:?}"/.[!.]*

# 7. Ctrl+C while the distribution, the product and the virus data download (the server stalls
# each), with links to a folder and a file outside put into the work folder meanwhile: the work
# folder goes, the outside stays.
echo '{"/tools/orbe/1.1/KaveroLive-SLAX.tar": ["stall:65536"],
  "/kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.tar": ["stall:1000"],
  "/kavero/products/full/OEM/Lumo/data/vdl.zip": ["stall:1000"]}' >"$work/rules.json"
serve "$mirror" "$work/rules.json"
status=0
ORBEC_STANDIN_RECORD=$work/standin.txt "$src/scripts/wine-run.sh" "$exe" "$work/int.iso" \
  >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
for _ in $(seq 300); do
  [ -s "$temp/KaveroBootableAvTempFolder/KaveroLive-SLAX.tar" ] &&
    compgen -G "$temp/KaveroBootableAvTempFolder/.fetched.*/vdl.zip" >/dev/null && break
  sleep 0.1
done
ln -s "$work/outside" "$temp/KaveroBootableAvTempFolder/link2" || true
ln -s "$work/outside/file" "$temp/KaveroBootableAvTempFolder/filelink2" || true
kill -INT "$pid"
wait "$pid" || status=$?
check "Ctrl+C: ends with the Ctrl+C status (0xC000013A, seen as 58)" test "$status" -eq 58
check "Ctrl+C: the linked folder survives" test "$(cat "$work/outside/file")" = keep
check "Ctrl+C: nothing but the links is left" only_link_left '*link2'
check "Ctrl+C: no output file" test ! -e "$work/int.iso"

# 8. -d: nothing in a distribution that no manifest verified is ever run, though it carries a
# slax/tools/WIN/mkisofs.exe. The ISO program comes from beside orbec.exe (then from PATH); with
# none there the run fails, and with one there that one writes the image.
rm -rf "${temp:?}"/* "${temp:?}"/.[!.]*
alone=$work/alone
mkdir -p "$alone"
cp "$exe" "$alone/orbec.exe"
serve "$mirror"
url="http://$host:$port/tools/orbe/1.1/KaveroLive-SLAX.tar"
rm -f "$work/standin.txt"
exe=$alone/orbec.exe run_orbec "$work/d.iso" -q -d "$url"
check "-d, no ISO program beside orbec.exe: status 1" test "$status" -eq 1
check "-d, no ISO program beside orbec.exe: message" grep -q '^Failed to launch mkisofs: ' "$work/err.txt"
check "-d: the archive's own program never ran" test ! -e "$work/standin.txt"
check "-d, no ISO program: nothing left" nothing_left
cp "$standin" "$alone/mkisofs.exe"
exe=$alone/orbec.exe run_orbec "$work/d.iso" -q -d "$url"
check "-d, ISO program beside orbec.exe: status 0" test "$status" -eq 0
check "-d: the program beside orbec.exe made the image" \
  grep -qF 'alone\mkisofs.exe" -quiet -J -R -D' "$work/standin.txt"
check "-d, ISO program beside orbec.exe: the image's label" \
  grep -qx "Volume Id    : ORBE $version" <<<"$(xorriso -indev "$work/d.iso" -pvd_info 2>/dev/null)"
rm -f "$work/d.iso"

# 9. A system text ends its line with one CRLF, and inside a sentence leaves it on one line
# (wine's text for a missing file is "File not found.").
rm -rf "${temp:?}"/* "${temp:?}"/.[!.]*
serve "$mirror"
run_orbec "$work/fail.iso" -u
check "no isohybrid: status 1" test "$status" -eq 1
check "no isohybrid: one line, one CRLF" cmp -s "$work/err.txt" \
  <(crlf_text "Failed to launch isohybrid: File not found. (it comes with the package syslinux-utils)")

# 10. Ctrl+C while the image is copied to another file system (the output in /dev/shm, a tmpfs):
# the partial copy beside the output goes too.
other=$(mktemp -d /dev/shm/orbec-wine-e2e.XXXXXX)
status=0
ORBEC_STANDIN_PAD_MIB=512 "$src/scripts/wine-run.sh" "$exe" "$other/big.iso" \
  >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
for _ in $(seq 6000); do
  compgen -G "$other/.big.iso.*" >/dev/null && break
  sleep 0.01
done
kill -INT "$pid"
wait "$pid" || status=$?
check "Ctrl+C during the copy: status 58" test "$status" -eq 58
check "Ctrl+C during the copy: neither a partial copy nor an output file" test -z "$(ls -A "$other")"
check "Ctrl+C during the copy: nothing left" nothing_left

echo "wine end to end: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
