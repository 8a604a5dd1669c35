#!/usr/bin/env bash
# Every C++ source of the project is as .clang-format writes it; prints the files that are not.
# Run by the tests (ctest -R format); `scripts/check_format.sh --fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "clang-format not found (scripts/install.sh installs it)"
  exit 1
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find app config db window workbook tests bench fuzz -name '*.cpp' -o -name '*.h')
fi
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "${#files[@]} files formatted"
exit $bad
