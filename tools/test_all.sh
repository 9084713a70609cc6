#!/usr/bin/env bash
# Builds and runs every test: on the native build (g++), under AddressSanitizer
# and UndefinedBehaviorSanitizer (clang), and on the Windows builds under wine:
# the 64-bit one always, the 32-bit one (the program users get) where this
# machine can run 32-bit programs; elsewhere the 32-bit .exe is built and its
# shape checked. Each run includes the end-to-end tests, the random-damage test
# and the replay of the fuzzing corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native fuzz windows
cmake --workflow --preset default
cmake --workflow --preset sanitize
cmake --workflow --preset windows-x86_64
if bash tools/runs_32bit.sh; then
  cmake --workflow --preset windows-i686
else
  echo "this machine cannot run 32-bit programs: the 32-bit build is only checked, not run"
  cmake --workflow --preset windows-i686-check
fi
