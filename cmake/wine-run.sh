#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh <prefix> <program> [args...]
# The prefix lives in the build tree; "--init" as the program creates it.
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$1" = "--init" ]; then
  exec wineboot --init
fi
exec wine "$@"
