#!/usr/bin/env bash
# Runs a Windows program under wine64, quietly, in the prefix $WINEPREFIX (default: one
# prefix per user for orbec's builds), with no proxy taken from the environment.
#   scripts/wine-run.sh program.exe [arguments...]
set -euo pipefail

export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${HOME:-/root}/.wine-orbec}
# No Mono or Gecko installers, no desktop integration: a console tool needs none of them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
unset http_proxy https_proxy ftp_proxy all_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY

wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  echo "wine-run.sh: $wine is missing (scripts/install-deps.sh installs wine64)" >&2
  exit 127
fi

# A new prefix is made once, under a lock, so parallel tests do not race to create it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver64 -w 2>/dev/null || /usr/lib/wine/wineserver -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec "$wine" "$@"
