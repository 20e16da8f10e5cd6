#!/usr/bin/env bash
# The Windows build's tests on this Linux machine: cross-builds orbec.exe and its test
# programs, then runs them under wine through ctest (the GoogleTest suites, and orbec.exe end
# to end against the demo mirror), with a wine prefix and a wineserver of the build's own,
# and prints how many tests passed and were skipped, and why each skip happened.
#   scripts/run-windows-tests.sh [build-dir] [ctest options...]     (default: build-win)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-win}
shift || true

"$top/scripts/cross-build-windows.sh" "$build"
build=$(cd "$build" && pwd)

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
# Makes the prefix once, then keeps one wineserver for the whole run: a warm server makes
# each test program start in a fraction of a second instead of seconds.
"$top/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
# (A server that is still running refuses -p: wait for the warm-up's server to end first.)
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
# Wine's own service processes live as long as the server; they start with the first program
# and keep its standard streams, so start them here, not under ctest's output pipes.
"$top/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

log=$build/Testing/windows-tests.log
mkdir -p "$(dirname "$log")"
status=0
junit=$build/Testing/windows-tests.xml
ctest --test-dir "$build" --output-on-failure --output-log "$log" --output-junit "$junit" \
  -j "$(nproc)" "$@" || status=$?
cp "$build/Testing/Temporary/LastTest.log" "$build/Testing/first-attempt.log"
# Now and then a program under wine ends at once with no output at all, before its own code
# runs (seen once in CI, never reproduced alone). A failed test whose program never reached
# its own main gets one more attempt, on its own, and is named; any other failure fails the run.
if [ "$status" -ne 0 ]; then
  mapfile -t unstarted < <(python3 - "$junit" <<'EOF2'
import re, sys, xml.etree.ElementTree as tree
for case in tree.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.get("status") == "fail" and "Running main() from" not in (case.findtext("system-out") or ""):
        print(re.sub(r"([][.*+?^$|()\\])", r"\\\1", case.get("name")))
EOF2
  )
  failed=$(grep -c . "$build/Testing/Temporary/LastTestsFailed.log" || true)
  if [ "${#unstarted[@]}" -gt 0 ] && [ "${#unstarted[@]}" -eq "$failed" ]; then
    echo "Windows tests under wine: a second attempt for programs that never started:"
    printf '  %s\n' "${unstarted[@]}"
    status=0
    pattern=$(IFS='|' && echo "^(${unstarted[*]})\$")
    ctest --test-dir "$build" --output-on-failure -R "$pattern" || status=$?
  fi
fi

passed=$(grep -cE 'Passed +[0-9.]+ sec$' "$log" || true)
skipped=$(grep -cE 'Skipped +[0-9.]+ sec$' "$log" || true)
echo "Windows tests under wine: $passed passed, $skipped skipped"
# ctest keeps every test's whole output in LastTest.log; GoogleTest prints a skip's reason
# on the lines between "<file>:<line>: Skipped" and "[  SKIPPED ] <test>".
awk '/: Skipped$/ { reason = ""; taking = 1; next }
     taking && /^\[  SKIPPED \]/ { sub(/^\[  SKIPPED \] /, ""); sub(/ \([0-9]+ ms\)$/, "");
                                   printf "  skipped %s: %s\n", $0, reason; taking = 0; next }
     taking { reason = reason (reason == "" ? "" : " ") $0 }' \
  "$build/Testing/first-attempt.log" | sort -u
exit "$status"
