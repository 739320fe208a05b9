#!/bin/sh
# A Linux tree as a user gets it, then a small host built against it twice:
# with find_package(zentrok) and with pkg-config.
#   consume_installed.sh BUILD_DIR           cmake --install into a scratch prefix
#   consume_installed.sh --deb BUILD_DIR     the .deb that cpack makes, unpacked
#                                            into a scratch root (dpkg -x)
# Either way the tree must hold the tools, the bindings and the docs.
set -eu
mode=install
if [ "$1" = "--deb" ]; then
  mode=deb
  shift
fi
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$mode" = deb ]; then
  if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
    echo "dpkg-deb or cpack is missing (Debian packages dpkg, cmake)"
    [ "${CI:-}" = true ] && exit 1
    exit 77  # skipped
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
  arch=$(dpkg --print-architecture)
  (cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out" >cpack.txt) ||
    { cat "$work/cpack.txt"; fail "cpack did not make the Debian package"; }
  deb=$work/out/zentrok_${version}_${arch}.deb
  [ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"
  dpkg-deb --field "$deb" Package Version Architecture Depends
  dpkg -x "$deb" "$work/root"
  prefix=$work/root/usr
else
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
  prefix=$work/prefix
fi

libdir=$(dirname "$(find "$prefix" -name 'libzentrok.so' | head -n 1)")
[ -f "$libdir/libzentrok.so" ] || fail "no libzentrok.so under $prefix"
for file in include/zentrok.h bin/zentrok-monitor bin/zentrok-sim \
            share/zentrok/bindings/pascal/zentrok.pas share/zentrok/bindings/dotnet/QenDriver.cs \
            share/zentrok/bindings/python/pyproject.toml share/zentrok/bindings/python/VERSION \
            share/zentrok/bindings/python/zentrok/__init__.py \
            share/doc/zentrok/README.md share/doc/zentrok/CHANGELOG.md share/doc/zentrok/TOOLS.md \
            share/doc/zentrok/WINDOWS-HOSTS.md; do
  [ -f "$prefix/$file" ] || fail "$mode tree without $file"
done
case $libdir in
  */lib/*-linux-*) ;;
  *) fail "the library is in ${libdir#"$prefix"/}, not lib/<multiarch>" ;;
esac
"$prefix/bin/zentrok-monitor" --help >/dev/null || fail "the installed monitor does not run"

cmake -S "$here/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$work/consumer-pc" "$here/consumer/consumer.c" $(pkg-config --cflags --libs zentrok)
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"
echo "$mode tree: library in ${libdir#"$prefix"/}, tools, bindings, docs; consumer built both ways"
