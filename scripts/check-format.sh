#!/usr/bin/env bash
# Checks that C and C++ files are laid out as .clang-format says: every
# tracked one (--all), or those changed since a base commit, so that files
# nobody has touched since the style was written down do not fail the check.
#
#   scripts/check-format.sh --all             every tracked C/C++ file
#   scripts/check-format.sh [<base commit>]   files changed since the base
#
# Without a base: on a branch, the merge base with main; on main itself (a
# fresh clone of main, as CI has), what the latest merge landed, that is the
# files changed since its first parent.
#
# Exit status: 0 when every checked file is formatted, 1 when one is not
# (clang-format names the lines), 2 when clang-format or the base is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check-format: $clang_format not found (Debian package clang-format)" >&2
  exit 2
fi

patterns=('*.c' '*.cpp' '*.h')
if [ "${1:-}" = --all ]; then
  what="tracked"
  mapfile -t files < <(git ls-files -- "${patterns[@]}")
else
  if [ $# -ge 1 ]; then
    base=$1
  else
    base=$(git merge-base HEAD main 2>/dev/null || true)
    if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
      latest_merge=$(git rev-list --merges -1 HEAD)
      base=${latest_merge:+$latest_merge^1}
    fi
    if [ -z "$base" ]; then
      echo "check-format: no merge base with main and no merge; give the base commit as argument" >&2
      exit 2
    fi
  fi
  if ! git rev-parse --verify --quiet "$base^{commit}" >/dev/null; then
    echo "check-format: $base is not a commit" >&2
    exit 2
  fi
  what="changed since $(git rev-parse --short "$base")"
  # Added, copied, modified or renamed files, committed or not; deleted ones
  # have nothing to check.
  mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- "${patterns[@]}")
fi

if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C or C++ file $what"
  exit 0
fi
if "$clang_format" --dry-run -Werror "${files[@]}"; then
  echo "check-format: ${#files[@]} C/C++ file(s) $what formatted"
else
  echo "check-format: reformat with: $clang_format -i <file>" >&2
  exit 1
fi
