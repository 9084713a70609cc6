#!/usr/bin/env bash
# Builds and runs every test, each once for every code path: the native build
# (g++) runs everything that runs the program; the build under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang) runs the unit
# tests, the random damage and the fuzzing corpus; the Windows program users
# get (32-bit) runs under wine, natively or under emulation (qemu-i386), and
# where this machine runs 32-bit programs in neither way, the same sources
# built as a 64-bit program run under wine64 and the 32-bit .exe is only
# checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh build tests fuzz windows windows-tests
cmake --workflow --preset default
cmake --workflow --preset sanitize
how=$(bash support/runs_32bit.sh || true)
case "$how" in
  native)
    echo "this machine runs 32-bit programs: the Windows tests run on the 32-bit program"
    cmake --workflow --preset windows-i686-tests
    ;;
  emulated*)
    echo "this machine runs 32-bit programs only under emulation (${how#emulated }):" \
         "the Windows tests run on the 32-bit program, more slowly"
    cmake --workflow --preset windows-i686-tests
    ;;
  *)
    echo "this machine cannot run 32-bit programs: the Windows tests run on the 64-bit" \
         "build, and the 32-bit program is only checked"
    cmake --workflow --preset windows-x86_64
    cmake --workflow --preset windows-i686-check
    ;;
esac
