#!/usr/bin/env bash
# Installs every Debian package that ZENTROK's builds and tests use. Run as
# root; running it again changes nothing. When every package is there it
# says so and needs no network. Tested on Debian 12 (bookworm).
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
  "wine32:i386|the windows preset's tests (32-bit programs under Wine)"
  "lld|the Windows package test (lld-link)"
  "llvm|the Windows import library and package test (llvm-dlltool)"
  "fpc|the Pascal binding test (Free Pascal)"
  "mono-mcs|the C# binding test (compiler)"
  "mono-runtime|the C# binding test (runtime)"
)
names=()
for entry in "${packages[@]}"; do
  names+=("${entry%%|*}")
done

if [[ ${1:-} == --list ]]; then
  for entry in "${packages[@]}"; do printf '%-20s %s\n' "${entry%%|*}" "${entry#*|}"; done
  exit 0
fi

missing=()
for name in "${names[@]}"; do
  dpkg-query -W -f='${Status}\n' "$name" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$name")
done
if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#names[@]} packages are installed"
  exit 0
fi
if ((EUID != 0)); then
  echo "install-deps: missing ${missing[*]}; run as root (sudo $0)" >&2
  exit 1
fi

# Wine runs 32-bit programs from the i386 architecture's packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture (for wine32:i386)"
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
echo "install-deps: all ${#names[@]} packages are installed"
