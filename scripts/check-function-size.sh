#!/usr/bin/env bash
# Checks that no function in src/ is longer than 50 lines, with clang-tidy's
# readability-function-size check. The Linux files are read as the linux
# build compiles them (its compile_commands.json). When the default folder,
# build/linux, has none, the script configures it again with
# `cmake --preset linux -DCMAKE_EXPORT_COMPILE_COMMANDS=ON` and says so; the
# build keeps that setting, and nothing is built. The files of
# src/platform/win32 as the MinGW-w64 cross compiler sees them: its target
# and its include folders. Functions in the headers of src/ are checked
# through the files that include them.
#
#   scripts/check-function-size.sh [<linux build folder>]   (default build/linux)
#
# Exit status: 0 when every function fits, 1 when one does not (clang-tidy
# names it) or a file cannot be read, 2 when clang-tidy or the build's
# compile_commands.json is missing, or the Linux files are clean but the
# Windows ones could not be checked without MinGW-w64.
set -euo pipefail
cd "$(dirname "$0")/.."

max_lines=${ZENTROK_MAX_FUNCTION_LINES:-50}
clang_tidy=${CLANG_TIDY:-clang-tidy}
mingw_cxx=${MINGW_CXX:-i686-w64-mingw32-g++-posix}
build=${1:-build/linux}
jobs=$(nproc)

if ! command -v "$clang_tidy" >/dev/null 2>&1; then
  echo "check-function-size: $clang_tidy not found (Debian package clang-tidy)" >&2
  exit 2
fi
if [ ! -e "$build/compile_commands.json" ] && [ $# -eq 0 ]; then
  echo "check-function-size: $build has no compile_commands.json; configuring it again" \
       "(cmake --preset linux -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
  cmake --preset linux -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
if [ ! -e "$build/compile_commands.json" ]; then
  echo "check-function-size: no $build/compile_commands.json (configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
  exit 2
fi

tidy=("$clang_tidy" --quiet "--checks=-*,readability-function-size"
      "--config={CheckOptions: [{key: readability-function-size.LineThreshold, value: $max_lines}]}"
      "--header-filter=^$PWD/src/")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0

mapfile -t linux_files < <(git ls-files -- 'src/*.cpp' ':!src/platform/win32/*')
printf '%s\n' "${linux_files[@]}" | xargs -P "$jobs" -n 4 "${tidy[@]}" -p "$build" >>"$out" 2>&1 || status=1

mapfile -t windows_files < <(git ls-files -- 'src/platform/win32/*.cpp')
windows_checked=0
if command -v "$mingw_cxx" >/dev/null 2>&1; then
  # The cross compiler's C++ and Windows headers replace the machine's; its
  # include-fixed folder holds GCC's own limits.h, which clang does not need.
  mapfile -t mingw_includes < <("$mingw_cxx" -xc++ -E -v /dev/null 2>&1 |
    sed -n '/#include <...> search starts here:/,/End of search list./s/^ \(\/.*\)/-isystem\1/p' |
    grep -v include-fixed)
  printf '%s\n' "${windows_files[@]}" |
    xargs -P "$jobs" -I '{}' "${tidy[@]}" '{}' -- --target=i686-w64-mingw32 -std=c++17 -nostdinc -nostdinc++ \
      "${mingw_includes[@]}" -Iinclude -Isrc >>"$out" 2>&1 || status=1
  windows_checked=1
fi

# A header's function is reported once for every file that includes it.
findings=$(grep -E '(warning|error): ' "$out" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  status=1
fi
checked=$((${#linux_files[@]} + windows_checked * ${#windows_files[@]}))
if [ $status -ne 0 ]; then
  echo "check-function-size: functions over $max_lines lines (or files clang-tidy cannot read) in src/" >&2
  exit 1
fi
if [ $windows_checked -eq 0 ]; then
  echo "check-function-size: ${#linux_files[@]} Linux files clean; the ${#windows_files[@]} files of" \
       "src/platform/win32 not checked ($mingw_cxx not found, Debian package g++-mingw-w64-i686)" >&2
  exit 2
fi
echo "check-function-size: no function over $max_lines lines in the $checked files of src/"
