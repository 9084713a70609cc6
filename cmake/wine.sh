#!/usr/bin/env bash
# Runs Windows programs under wine for the tests, in a prefix of the test run's
# own (VORNHOLD_WINEPREFIX), with one persistent wineserver for the whole run.
# Usage: wine.sh run 32|64 PROGRAM [ARGS...]
#        wine.sh start 32|64 DIR     make a fresh prefix and start its server
#        wine.sh stop DIR            stop that server and remove the prefix
# The loaders are called directly: the `wine` launcher picks the 32-bit one
# whenever it is installed, even on a machine that cannot run it.
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
action=$1
shift
loader() { [ "$1" = 64 ] && echo /usr/lib/wine/wine64 || echo /usr/lib/wine/wine; }
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
case "$action" in
  run)
    export WINEPREFIX="${VORNHOLD_WINEPREFIX:-${WINEPREFIX:-$HOME/.wine}}"
    export WINELOADER; WINELOADER=$(loader "$1")
    shift
    exec "$WINELOADER" "$@"
    ;;
  start)
    export WINEPREFIX=$2 WINELOADER; WINELOADER=$(loader "$1")
    if [ "$1" = 64 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
    [ -d "$WINEPREFIX" ] && { "$server" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    mkdir -p "$WINEPREFIX"
    "$server" -p </dev/null >/dev/null 2>&1
    "$WINELOADER" wineboot -u </dev/null >/dev/null 2>&1
    ;;
  stop)
    export WINEPREFIX=$1
    "$server" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
esac
