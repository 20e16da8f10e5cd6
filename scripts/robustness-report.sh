#!/usr/bin/env bash
# Runs the end-to-end fault, interruption and concurrency tests of a build and writes their
# rows into docs/robustness.md (between the faults markers).
#   scripts/robustness-report.sh [build-dir]      (default: build)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
json=$(mktemp)
out=$(mktemp)
trap 'rm -f -- "$json" "$out"' EXIT

ORBEC_BINARY=$build/orbec "$top/tests/e2e/isolated.sh" "$build/tests/orbec_e2e_tests" \
  --gtest_filter='Trouble.*' --gtest_output="json:$json" >"$out" 2>&1 || true

python3 - "$json" "$top/docs/robustness.md" "$out" <<'PY'
import json, re, sys

printed = open(sys.argv[3]).read()
def counted(label):
    match = re.search(re.escape(label) + r": (\d+) runs", printed)
    return int(match.group(1)) if match else 0

def peak(label):
    match = re.search(re.escape(label) + r": peak memory (\d+) KiB", printed)
    return match.group(1) if match else None

# Test name -> (class of fault, number of cases it tries, what must happen).
CASES = {
    "TheDiskFillsUpDuringADownload": ("disk full during a download", 1,
        '"Download failed: No space left on device", exit 1'),
    "TheDiskFillsUpDuringTheUnpacking": ("disk full during the unpacking", 1,
        '"Failed to unpack ...: No space left on device", exit 1'),
    "AnEndlessBodyEndsWhenTheDiskIsFull": ("server sends an endless body", 1,
        '"Download failed: No space left on device", exit 1'),
    "TheDiskFillsUpDuringTheImageMove": ("disk full during the image move", 1,
        '"MoveFile failed with error code 28", exit 1, old output intact'),
    "AnUnwritableOutputFolderFailsBeforeAnyDownload": ("unwritable output folder", 1,
        '"Cannot open the output file ...", exit 1, no request sent'),
    "ServerFaultsEndTheRunWithTheirReason": (
        "server closes mid-transfer, stalls, trickles (2 bytes/s), loops redirects, refuses", 5,
        '"Download failed: <reason>", exit 1'),
    "AnOversizedManifestIsRefusedUnread": ("manifest of 256 MiB (sparse) served", 1,
        '"Manifest verification: [BADFILE]: 4: ..." twice, exit 1; peak memory %s KiB'
        % (peak("oversized manifest") or "?")),
    "AnInterruptedImageMoveLeavesNoCopy": (
        "SIGTERM while a 512 MiB image is copied onto another file system", 1,
        "ends by the signal; no copy left beside the output, old output intact"),
    "AnOutputTheRunWouldDestroyIsRefused": (
        "output in the work folder, at its lock file, through a linked or relative path", 4,
        '"Cannot open the output file ...: The path belongs to the work folder that the run '
        'removes", exit 1, no request sent'),
    "AFailedRunRemovesTheOutputFileItMade": ("failed and interrupted runs with a new output file", 2,
        "the empty output file the run made is removed"),
    "AClosedConsoleCostsOnlyTheText": (
        "standard output (and error) a pipe whose reader is gone", 2,
        "the run goes on: image written, exit 0; a failing run exits 1; nothing left behind"),
    "AnInterruptedDownloadRemovesTheWorkFolder": ("SIGINT/SIGTERM during a download", 2,
        "ends by the signal, work folder and lock removed"),
    "AnInterruptedUnpackingRemovesTheWorkFolder": ("SIGINT during the unpacking (8000 files)", 1,
        "ends by the signal before the next download, work folder and lock removed"),
    "AnInterruptedIsoProgramIsStopped": ("SIGTERM while the ISO program runs", 1,
        "ISO program killed, ends by the signal, work folder removed"),
    "InterruptionsAtAnyPointLeaveNothingBehind": ("SIGTERM at 7 points of a run", 7,
        "finished or ended by the signal; nothing left behind"),
    "ASecondRunLeavesTheFirstRunsWorkAlone": ("two runs at once", 1,
        '"Failed to create temp folder ...: Another orbec run is using the folder"; first image correct'),
    "TruncatedFilesEndTheRunWithTheirFailure": (
        "distribution, product, their manifests and the virus data zip served cut at every "
        "512-byte boundary and 4 offsets in every 8th block",
        counted("truncated signed or zipped files"),
        'the checksum or manifest failure twice, or "Could not determine the virus data '
        'version", exit 1; nothing left in the temporary or output folder'),
    "ATruncatedUnverifiedDistributionFailsTheUnpacking": (
        "distribution given by URL (not verified) cut inside a block",
        counted("truncated unverified distributions"),
        '"Failed to unpack ...: The archive is truncated", exit 1; nothing left behind'),
}

report = json.load(open(sys.argv[1]))
rows = []
for suite in report.get("testsuites", []):
    for test in suite.get("testsuite", []):
        name = test["name"]
        if name not in CASES:
            continue
        title, cases, expected = CASES[name]
        if test.get("result") == "SKIPPED" or test.get("status") == "NOTRUN":
            outcome = "skipped (needs root to mount a small file system)"
        elif test.get("failures"):
            outcome = "FAILED: " + expected
        else:
            outcome = "passed: " + expected
        rows.append("| %s | %d | %s |" % (title, cases, outcome))

path = sys.argv[2]
text = open(path).read()
block = "<!-- faults:begin -->\n" + "".join(r + "\n" for r in rows) + "<!-- faults:end -->"
text = re.sub(r"<!-- faults:begin -->.*?<!-- faults:end -->", lambda _: block, text, flags=re.S)
open(path, "w").write(text)
print("\n".join(rows))
PY
