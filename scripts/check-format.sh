#!/usr/bin/env bash
# Fails on any tracked C++ source that clang-format (with the repository's
# .clang-format) would change, and names the files; `clang-format -i FILES`
# fixes them.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
# One run for all files; each change is reported as "FILE:LINE:COLUMN: error: ...".
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "check-format: clang-format would change these files:" >&2
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/  \1/p' <<<"$report" | sort -u >&2
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
