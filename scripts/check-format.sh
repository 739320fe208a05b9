#!/usr/bin/env bash
# Checks that the C and C++ files changed since a base commit are laid out as
# .clang-format says. The base is the first argument, by default the merge
# base with main. Only changed files are checked, so files that nobody has
# touched since the style was written down do not fail the check.
#
#   scripts/check-format.sh [<base commit>]
#
# Exit status: 0 when every changed file is formatted, 1 when one is not
# (clang-format names the lines), 2 when clang-format or the base is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check-format: $clang_format not found (Debian package clang-format)" >&2
  exit 2
fi

if [ $# -ge 1 ]; then
  base=$1
elif ! base=$(git merge-base HEAD main 2>/dev/null); then
  echo "check-format: no merge base with main; give the base commit as argument" >&2
  exit 2
fi
if ! git rev-parse --verify --quiet "$base^{commit}" >/dev/null; then
  echo "check-format: $base is not a commit" >&2
  exit 2
fi

# Added, copied, modified or renamed files, committed or not; deleted ones
# have nothing to check.
mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.c' '*.cpp' '*.h')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C or C++ file changed since $base"
  exit 0
fi

if "$clang_format" --dry-run -Werror "${files[@]}"; then
  echo "check-format: ${#files[@]} changed file(s) formatted"
else
  echo "check-format: reformat with: $clang_format -i <file>" >&2
  exit 1
fi
