#!/usr/bin/env bash
# The sources keep the repository's style: every C++ file as clang-format writes it, every
# shell script free of shellcheck warnings. Prints what is off and fails.
#   scripts/check-style.sh
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

status=0
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "check-style: the files above are not formatted (clang-format -i <file>)" >&2
  status=1
fi

# Shell scripts: by their suffix or by a shell on their first line.
scripts=()
while IFS= read -r file; do
  if [[ $file == *.sh ]] || head -n 1 "$file" | grep -qE '^#!.*\b(ba)?sh\b'; then
    scripts+=("$file")
  fi
done < <(git ls-files | grep -vE '\.(cpp|h|py|md|txt|json|cmake|in|rc|manifest)$')
if ! shellcheck -S warning "${scripts[@]}"; then
  echo "check-style: shellcheck warns about the scripts above" >&2
  status=1
fi
[ "$status" = 0 ] && echo "check-style: ${#sources[@]} C++ files and ${#scripts[@]} shell scripts in style"
exit "$status"
