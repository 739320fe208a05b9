#!/usr/bin/env bash
# Builds and tests every configuration: Linux (with the Pascal, C# and Python
# bindings, the install tree, the .deb and the pip-installed Python package),
# the code checks (the C/C++ layout, functions of src/ at most 50 lines,
# the header and documents naming only what the code has),
# the demo on a tree without GoogleTest and Google Benchmark, ASan+UBSan,
# TSan, the fuzzers for a bounded time, and the Windows DLL under Wine (with
# its zip and the Wine walk-through of docs/WINDOWS-HOSTS.md) when MinGW-w64
# and Wine are installed; where the kernel runs no 32-bit programs, the DLL
# is built and its Windows tests run in the x86-64 test build (windows64).
# scripts/install-deps.sh installs every package.
# Under CI (CI=true) a configuration or test that cannot run fails: every
# preset is configured with ZENTROK_REQUIRE_ALL=ON, so that a missing test
# library fails the configure, and a skipped configuration fails the run.
# Everything it writes goes under build/ (pip's in-tree build of the Python
# package leaves bindings/python/build, which git ignores).
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${ZENTROK_FUZZ_SECONDS:-60}
# Which C and C++ files the format check reads: "all" (every tracked one;
# the whole tree is formatted) or "changed" (those changed since the branch
# left main; on main, those the latest merge landed).
FORMAT_CHECK=${ZENTROK_FORMAT_CHECK:-all}
declare -a summary=()
status=0
if [[ "${CI:-}" == "true" ]]; then require_all=ON; else require_all=OFF; fi

have() { command -v "$1" >/dev/null 2>&1; }

# The tests of a ctest run that did not run, skipped on purpose or for a
# missing tool, from its output: ", skipped: name, name" or nothing.
skipped_tests() {
  local names
  [[ -e $1 ]] || return 0
  names=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$1" | paste -sd, - | sed 's/,/, /g')
  [[ -z $names ]] || echo ", skipped: $names"
}

run_preset() {
  local preset=$1 log=build/ctest-$1.txt
  echo "==== $preset: configure, build, test"
  mkdir -p build && rm -f "$log"
  if cmake --preset "$preset" -DZENTROK_REQUIRE_ALL=$require_all >/dev/null &&
     cmake --build --preset "$preset" -j "$(nproc)" &&
     ctest --preset "$preset" | tee "$log"; then
    summary+=("PASSED   $preset$(skipped_tests "$log")")
  else
    summary+=("FAILED   $preset$(skipped_tests "$log")")
    status=1
  fi
}

skip_preset() {
  local preset=$1 why=$2
  echo "==== $preset: SKIPPED ($why)"
  if [[ "${CI:-}" == "true" ]]; then
    summary+=("FAILED   $preset (not run: $why)")
    status=1
  else
    summary+=("SKIPPED  $preset ($why)")
  fi
}

# GoogleTest: the machine's for the Linux builds, its sources for the Windows one.
have_gtest() { [[ -e /usr/include/gtest/gtest.h && -e /usr/src/googletest/CMakeLists.txt ]]; }
test_preset() {
  if have_gtest; then
    run_preset "$1"
  else
    skip_preset "$1" "GoogleTest is not installed (libgtest-dev, libgmock-dev)"
  fi
}

test_preset linux

# A check: exit status 0 passes, 2 means a tool it needs is missing.
run_check() {
  local name=$1 rc=0
  shift
  echo "==== $name"
  "$@" || rc=$?
  case $rc in
    0) summary+=("PASSED   $name") ;;
    2) skip_preset "$name" "a tool it needs is missing (see above)" ;;
    *) summary+=("FAILED   $name"); status=1 ;;
  esac
}
if [[ $FORMAT_CHECK == all ]]; then
  run_check "format of every C/C++ file" scripts/check-format.sh --all
else
  run_check "format of the changed C/C++ files" scripts/check-format.sh
fi
# With the linux build's compile_commands.json (written on first use).
run_check "functions of src/ at most 50 lines" scripts/check-function-size.sh
run_check "header, README and docs/ name what the code has" python3 scripts/check-docs.py
# The Linux tests include the bindings; each skips itself without its
# compiler or runtime, and fails under CI.
if ! have fpc || ! have mcs || ! have mono; then
  skip_preset "bindings (linux)" "fpc, mcs or mono is not installed (fpc, mono-mcs, mono-runtime)"
fi

# A host developer's machine may lack the test libraries: the demo must build
# and run without them, saying once that the tests and benchmarks are left out.
echo "==== demo without GoogleTest and Google Benchmark"
demo_log=build/demo-bare.txt
if scripts/demo.sh --build-dir build/demo-bare \
     -DZENTROK_REQUIRE_ALL=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
     >"$demo_log" 2>&1 &&
   [[ $(grep -c -e 'The tests are skipped' -e 'The benchmarks are skipped' "$demo_log") == 2 ]]; then
  summary+=("PASSED   demo without GoogleTest and Google Benchmark")
else
  cat "$demo_log"
  summary+=("FAILED   demo without GoogleTest and Google Benchmark (see $demo_log)")
  status=1
fi

test_preset asan
test_preset tsan

# libFuzzer ships with clang's runtime (libclang-rt-14-dev on Debian).
fuzzer_works() {
  have clang++ || return 1
  local probe
  probe=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' >"$probe/p.cpp"
  clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null
  local ok=$?
  rm -rf "$probe"
  return $ok
}

if fuzzer_works; then
  export ZENTROK_FUZZ_SECONDS=$FUZZ_SECONDS
  run_preset fuzz
else
  skip_preset fuzz "clang++ with libFuzzer (clang, libclang-rt-14-dev) is not installed"
fi

# Wine runs the 32-bit test programs only with its 32-bit part (Debian:
# wine32:i386); without it, `wine` is there but every test fails. A kernel
# that runs no 32-bit programs at all (scripts/runs-i386.sh) still builds
# the DLL and checks its tables; the Windows tests then run in the x86-64
# test build under 64-bit Wine (the windows64 preset), same sources, same API.
have_package() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q 'ok installed$'; }
build_windows_dll() {
  echo "==== windows: configure, build, check the DLL and its package (this kernel runs no 32-bit programs)"
  if cmake --preset windows -DZENTROK_REQUIRE_ALL=$require_all >/dev/null &&
     cmake --build --preset windows -j "$(nproc)" &&
     ZENTROK_NO_WINE32=1 ctest --preset windows -R '^windows_(dll_tables|package)$' -FS wine; then
    summary+=("PASSED   windows (built; DLL tables and package checked, its hosts linked, not run; its Wine tests run in windows64)")
  else
    summary+=("FAILED   windows (build or DLL tables)")
    status=1
  fi
}
if ! have i686-w64-mingw32-g++-posix || ! have wine; then
  skip_preset windows "MinGW-w64 (g++-mingw-w64-i686) or Wine (wine) is not installed"
elif scripts/runs-i386.sh; then
  if have_package wine32:i386; then
    test_preset windows
  else
    skip_preset windows "the 32-bit part of Wine (wine32:i386) is not installed"
  fi
else
  build_windows_dll
  if have x86_64-w64-mingw32-g++-posix && [[ -x /usr/lib/wine/wine64 ]]; then
    test_preset windows64
  else
    skip_preset windows64 "MinGW-w64 for x86-64 (g++-mingw-w64-x86-64-posix) or 64-bit Wine (wine64) is not installed"
  fi
fi

# The figures of this run (soak, faults, fuzz executions, sanitizer results,
# every build's tests) go to the build folder; docs/RELIABILITY.md is only
# updated on purpose: scripts/reliability-report.py --out docs/RELIABILITY.md
if have python3 && python3 scripts/reliability-report.py --out build/RELIABILITY.md; then
  summary+=("WROTE    build/RELIABILITY.md (figures of this run)")
fi

echo
echo "==== Summary"
printf '%s\n' "${summary[@]}"
exit $status
