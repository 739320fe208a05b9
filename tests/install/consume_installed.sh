#!/bin/sh
# Installs the build tree into a scratch prefix and builds a small host
# against it twice: with find_package(zentrok) and with pkg-config.
set -eu
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$(cd "$(dirname "$0")" && pwd)

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

cmake -S "$here/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake-build/consumer"

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
cc -o "$work/consumer-pc" "$here/consumer/consumer.c" $(pkg-config --cflags --libs zentrok)
LD_LIBRARY_PATH="$work/prefix/lib" "$work/consumer-pc"
