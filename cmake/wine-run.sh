#!/usr/bin/env bash
# Runs a Windows program under wine, quietly, in the prefix named by
# VORNHOLD_WINEPREFIX (the tests make a fresh one for every run).
set -euo pipefail
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${VORNHOLD_WINEPREFIX:-${WINEPREFIX:-$HOME/.wine}}"
exec wine "$@"
