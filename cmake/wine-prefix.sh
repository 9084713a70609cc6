#!/usr/bin/env bash
# Makes a fresh wine prefix for one test run, or removes it afterwards.
# Usage: wine-prefix.sh fresh|remove DIR
set -euo pipefail
action=$1 dir=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$dir"
case "$action" in
  fresh)
    [ -d "$dir" ] && { wineserver -k 2>/dev/null || true; rm -rf "$dir"; }
    mkdir -p "$dir"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    ;;
  remove)
    wineserver -k 2>/dev/null || true
    rm -rf "$dir"
    ;;
esac
