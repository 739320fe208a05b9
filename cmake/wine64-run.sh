#!/bin/sh
# wine-run.sh for the x86-64 test build: the 64-bit loader alone, which
# works also where the 32-bit one is missing or cannot run.
export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ZENTROK_WINE=/usr/lib/wine/wine64
exec "$(dirname "$0")/wine-run.sh" "$@"
