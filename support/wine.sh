#!/usr/bin/env bash
# Runs Windows programs under wine for the tests, in a prefix of the test run's
# own (VORNHOLD_WINEPREFIX), with one persistent wineserver for the whole run.
# Usage: wine.sh run 32|64 PROGRAM [ARGS...]
#        wine.sh start 32|64 DIR     make a fresh prefix and start its server
#        wine.sh stop DIR            stop that server and remove the prefix
# The loaders are called directly: the `wine` launcher picks the 32-bit one
# whenever it is installed, even on a machine that cannot run it. Where the
# machine runs 32-bit programs only under emulation, the 32-bit tests set
# VORNHOLD_QEMU_I386 to the qemu-i386 that runs them, and every wine process
# runs in a namespace where 32-bit programs go to it (support/emulate_i386.sh).
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
here=$(dirname "$0")
action=$1
shift
loader() { [ "$1" = 64 ] && echo /usr/lib/wine/wine64 || echo /usr/lib/wine/wine; }
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
# Runs a wine process, under emulation where VORNHOLD_QEMU_I386 asks for it.
within() {
  if [ -n "${VORNHOLD_QEMU_I386:-}" ]; then
    # The loader would start itself a second time to reserve memory early; once is enough.
    export WINELOADERNOEXEC=1
    exec bash "$here/emulate_i386.sh" "$VORNHOLD_QEMU_I386" "$@"
  fi
  exec "$@"
}
case "$action" in
  run)
    export WINEPREFIX="${VORNHOLD_WINEPREFIX:-${WINEPREFIX:-$HOME/.wine}}"
    export WINELOADER; WINELOADER=$(loader "$1")
    shift
    within "$WINELOADER" "$@"
    ;;
  start)
    export WINEPREFIX=$2 WINELOADER; WINELOADER=$(loader "$1")
    if [ "$1" = 64 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
    [ -d "$WINEPREFIX" ] && { (within "$server" -k) 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    mkdir -p "$WINEPREFIX"
    (within "$server" -p) </dev/null >/dev/null 2>&1
    (within "$WINELOADER" wineboot -u) </dev/null >/dev/null 2>&1
    ;;
  stop)
    export WINEPREFIX=$1
    (within "$server" -k) 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
esac
