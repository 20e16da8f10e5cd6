#!/usr/bin/env bash
# The portable part of the sources stays portable:
#  1. only files named for a platform or library (<name>_posix, _curl, _openssl, _libzip, _win)
#     include POSIX, libcurl, OpenSSL or libzip headers, and only _win files Windows headers;
#  2. every other header and source compiles for Windows with mingw-w64 (syntax only).
#   scripts/check-portable.sh [build-dir]      (default: build; it holds the generated headers)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
compiler=x86_64-w64-mingw32-g++-posix
implementation='_(posix|curl|openssl|libzip|win)\.(h|cpp)$'
cd "$top"

status=0
while IFS= read -r file; do
  if ! [[ $file =~ $implementation ]]; then
    echo "check-portable: $file includes a platform or library header but is not named for one" >&2
    status=1
  fi
done < <(grep -rlE '<curl/|<openssl/|<zip.h>|<unistd.h>|<sys/|<spawn.h>|<fcntl.h>|<dirent.h>|<signal.h>' src | sort)
# Windows headers belong to the Windows implementations alone.
while IFS= read -r file; do
  if ! [[ $file =~ _win\.(h|cpp)$ ]]; then
    echo "check-portable: $file includes a Windows header but is not a _win file" >&2
    status=1
  fi
done < <(grep -rlE '#include [<"]((windows|wincrypt|wininet|winternl|aclapi|shellapi|sddl|io|share)\.h|platform/windows_win\.h)[>"]' src | sort)

if ! command -v "$compiler" >/dev/null; then
  echo "check-portable: $compiler is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
checked=0
while IFS= read -r file; do
  checked=$((checked + 1))
  # A header is compiled as the one include of a source file of its own.
  if [[ $file == *.h ]]; then source="#include \"${file#src/}\""; else source=$(<"$file"); fi
  if ! "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Isrc -I"$build/generated" \
      -x c++ - <<<"$source" 2>"$build/check-portable.err"; then
    echo "check-portable: $file does not compile for Windows:" >&2
    head -20 "$build/check-portable.err" >&2
    status=1
  fi
done < <(find src -name '*.h' -o -name '*.cpp' | grep -vE "$implementation" | sort)
rm -f "$build/check-portable.err"
[ "$status" = 0 ] && echo "check-portable: $checked portable files compile for Windows"
exit "$status"
