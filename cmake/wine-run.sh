#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh <prefix> <program> [args...]
# The prefix lives in the build tree; "--init" as the program creates it and
# gives it a 24-hour clock with leading zeros, the time text the tests read
# in telegram logs on every build.
# Wine takes only an absolute prefix path.
case "$1" in
  /*) export WINEPREFIX="$1" ;;
  *) export WINEPREFIX="$PWD/$1" ;;
esac
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=${ZENTROK_WINE:-wine}  # wine64-run.sh names the 64-bit loader
if [ "$1" = "--init" ]; then
  "$wine" wineboot --init || exit 1
  for setting in "iTime 1" "iTLZero 1" "sTime :" "sTimeFormat HH:mm:ss"; do
    set -- $setting
    "$wine" reg add 'HKCU\Control Panel\International' /v "$1" /d "$2" /f >/dev/null || exit 1
  done
  exit 0
fi
exec "$wine" "$@"
