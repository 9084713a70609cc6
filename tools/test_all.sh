#!/usr/bin/env bash
# Builds and runs every test: on the native build (g++), under AddressSanitizer
# and UndefinedBehaviorSanitizer (clang), and on the Windows builds under wine:
# the 64-bit one always, the 32-bit one (the program users get) wherever this
# machine can run 32-bit programs, natively or under emulation (qemu-i386);
# elsewhere the 32-bit .exe is built and its shape checked. Each run includes
# the end-to-end tests, the random-damage test and the replay of the fuzzing
# corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native fuzz windows
cmake --workflow --preset default
cmake --workflow --preset sanitize
cmake --workflow --preset windows-x86_64
how=$(bash support/runs_32bit.sh || true)
case "$how" in
  native)
    echo "this machine runs 32-bit programs: the whole suite runs on the 32-bit build"
    cmake --workflow --preset windows-i686-tests
    ;;
  emulated*)
    echo "this machine runs 32-bit programs only under emulation (${how#emulated }):" \
         "the whole suite runs on the 32-bit build, more slowly"
    cmake --workflow --preset windows-i686-tests
    ;;
  *)
    echo "this machine cannot run 32-bit programs: the 32-bit build is only checked, not run"
    cmake --workflow --preset windows-i686-check
    ;;
esac
