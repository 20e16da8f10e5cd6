#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the demo need.
# Only missing packages are installed; uses sudo when not running as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format shellcheck git
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev
  libcurl4-openssl-dev libssl-dev openssl libzip-dev zip unzip
  python3 python3-pyftpdlib
  dpkg-dev file man-db lintian
  xorriso
  isolinux syslinux-common busybox-static cpio
  qemu-system-x86 iproute2 util-linux
  nginx time
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev libz-mingw-w64-dev wine wine64
  syslinux-utils
  ovmf mtools dosfstools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
