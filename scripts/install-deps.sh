#!/usr/bin/env bash
# Installs every Debian package that ZENTROK's builds and tests use. Run as
# root; running it again changes nothing. When every package is there it
# says so and needs no network. Tested on Debian 12 (bookworm).
#
# A mirror hiccup does not stop it: apt-get update is tried a few times; an
# index that still fails is named and the install goes on with the indexes
# that were fetched, once more without that index's suite if the install
# then finds unmet dependencies. When packages stay missing, its last line
# (on stderr) names them and why, and it exits 1. tests/scripts runs it
# against a stand-in apt-get.
#
#   scripts/install-deps.sh          install what is missing
#   scripts/install-deps.sh --list   print the packages, one a line, and exit
set -euo pipefail

# "package|what it is for". Without a package, what it is for is skipped
# (scripts/test-all.sh says so, and fails under CI=true).
packages=(
  "cmake|every build (3.25 or later, for the presets)"
  "ninja-build|every build (the presets' generator)"
  "g++|the Linux library, tools and tests"
  "pkg-config|the install and package tests (a host built with pkg-config)"
  "python3|the tool and binding tests, the relay of the Windows tests"
  "python3-pip|the Python package test (pip install ./bindings/python)"
  "python3-setuptools|the Python package test (pip builds offline, without build isolation)"
  "python3-wheel|the Python package test (setuptools builds the wheel pip installs)"
  "dpkg-dev|the .deb's dependencies (dpkg-shlibdeps)"
  "libgtest-dev|the tests (GoogleTest; the Windows build compiles its sources)"
  "libgmock-dev|the tests (GoogleMock)"
  "libbenchmark-dev|the benchmarks (Google Benchmark)"
  "clang|the fuzz preset, and the MSVC-style hosts of the Windows package test"
  "clang-format|the format check (scripts/check-format.sh)"
  "clang-tidy|the function-size check (scripts/check-function-size.sh)"
  "libclang-rt-14-dev|the fuzz preset (libFuzzer)"
  "g++-mingw-w64-i686|the windows preset (zentrok.dll)"
  "wine|the windows preset's tests and the Wine walk-through"
  "lld|the Windows package test (lld-link)"
  "llvm|the Windows import library and package test (llvm-dlltool)"
  "fpc|the Pascal binding test (Free Pascal)"
  "mono-mcs|the C# binding test (compiler)"
  "mono-runtime|the C# binding test (runtime)"
)
# 32-bit Wine needs a kernel that runs 32-bit programs. Where it runs none,
# the Windows tests run in the x86-64 test build under 64-bit Wine instead
# (the windows64 preset). ZENTROK_RUNS_I386=yes|no stands in for the probe.
runs_i386=${ZENTROK_RUNS_I386:-}
if [[ -z $runs_i386 ]]; then
  runs_i386=no
  "$(dirname "$0")/runs-i386.sh" && runs_i386=yes
fi
if [[ $runs_i386 == yes ]]; then
  packages+=("wine32:i386|the windows preset's tests (32-bit programs under Wine)")
else
  packages+=("wine64|the windows64 preset's tests (64-bit Wine; this kernel runs no 32-bit programs)"
             "g++-mingw-w64-x86-64-posix|the windows64 preset (the x86-64 test build of the Windows code)")
fi
names=()
for entry in "${packages[@]}"; do
  names+=("${entry%%|*}")
done

if [[ ${1:-} == --list ]]; then
  for entry in "${packages[@]}"; do printf '%-20s %s\n' "${entry%%|*}" "${entry#*|}"; done
  exit 0
fi

say() { echo "install-deps: $*"; }
# The last line of a failed run, on stderr: CI shows it as the reason.
fail() {
  echo "install-deps: $*" >&2
  exit 1
}

still_missing() {
  local name
  for name in "$@"; do
    dpkg-query -W -f='${Status}\n' "$name" 2>/dev/null | grep -q '^install ok installed$' || echo "$name"
  done
}

mapfile -t missing < <(still_missing "${names[@]}")
if ((${#missing[@]} == 0)); then
  say "all ${#names[@]} packages are installed"
  exit 0
fi
if (($(id -u) != 0)); then
  fail "missing ${missing[*]}; run as root (sudo $0)"
fi

# Wine runs 32-bit programs from the i386 architecture's packages.
if [[ $runs_i386 == yes ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture (for wine32:i386)"
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A mirror in mid-sync serves an index of the wrong size for a while, and a
# network may drop a request: apt-get update is tried a few times, a pause
# apart. Without a network it only warns; with a bad index it exits 100,
# having fetched every other index all the same.
tries=${ZENTROK_APT_TRIES:-3}
pause=${ZENTROK_APT_PAUSE:-20}
update_indexes() {
  local try
  for ((try = 1; ; try++)); do
    if apt-get update >"$work/update.txt" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$work/update.txt"; then
      return 0
    fi
    ((try < tries)) || return 1
    say "apt-get update did not fetch every index (try $try of $tries); trying again in $pause s"
    sleep "$pause"
  done
}

# The failed indexes of the last update, one a line: "suite|index|reason"
# (no suite for a repository without dists/).
failed_indexes() {
  sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1|\2/p' "$work/update.txt" |
    sed -e 's/ *\[IP: [^]]*\]//' -e 's#^\(.*\)/dists/\(\([^/]*\)/[^|]*\)|#\3|\2 of \1|#;t' -e 's/^/|/'
}

# Nothing fetched at all: no network, or no mirror answering.
fetched_nothing() { ! grep -q '^\(Get\|Hit\):' "$work/update.txt"; }

# An install with the given apt-get options; its output goes to install.txt,
# with the unmet dependencies that -qq would leave out.
install_missing() {
  apt-get "$@" install -y -q "${missing[@]}" >"$work/install.txt" 2>&1
}

# Leaves the suites out of the install by pinning them below zero; the
# indexes of the other suites stay as fetched.
install_without() {
  local pins=$work/preferences suite
  cat /etc/apt/preferences >"$pins" 2>/dev/null || true
  for suite in "$@"; do
    printf 'Package: *\nPin: release %s\nPin-Priority: -1\n\n' "n=$suite" "a=$suite" >>"$pins"
  done
  install_missing -o Dir::Etc::Preferences="$pins"
}

# Says which indexes the update left out, and keeps their suites in
# $suites. Nothing fetched at all is said once, if the install then fails.
report_failed_update() {
  local suite index reason
  fetched_nothing && return 0
  while IFS='|' read -r suite index reason; do
    say "the index $index did not download after $tries tries ($reason); installing with the indexes that were fetched"
    if [[ -n $suite && " ${suites[*]} " != *" $suite "* ]]; then
      suites+=("$suite")
    fi
  done < <(failed_indexes)
  if ! grep -q '^[EW]: Failed to fetch' "$work/update.txt"; then
    say "apt-get update failed ($(grep -m1 '^E:' "$work/update.txt" || echo 'no message')); installing with the indexes there are"
  fi
}

say "installing ${missing[*]}"
suites=()
update_indexes || report_failed_update
if ! install_missing; then
  if fetched_nothing; then
    fail "missing ${missing[*]}: no package index could be fetched; installing them needs the network or a local mirror (/etc/apt/sources.list.d)"
  fi
  if ((${#suites[@]} > 0)) && grep -q -e 'unmet dependencies' -e 'held broken packages' "$work/install.txt"; then
    # One architecture's index of a suite missing leaves that architecture
    # at older versions than the others, so Multi-Arch packages cannot pair.
    say "apt-get install found unmet dependencies, as when a missing index leaves one architecture behind; trying once more without ${suites[*]}"
    if install_without "${suites[@]}"; then
      say "installed without ${suites[*]}; its updates come with a later apt-get upgrade"
    fi
  fi
fi
mapfile -t missing < <(still_missing "${names[@]}")
if ((${#missing[@]} > 0)); then
  cat "$work/install.txt" >&2
  fail "missing ${missing[*]}: apt-get install failed (its output above)"
fi
say "all ${#names[@]} packages are installed"
