#!/usr/bin/env bash
# Builds and runs every test: on the native build (g++), under AddressSanitizer
# and UndefinedBehaviorSanitizer (clang), and on the 32-bit Windows build under
# wine. Each run includes the end-to-end tests, the random-damage test and the
# replay of the fuzzing corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native fuzz windows
cmake --workflow --preset default
cmake --workflow --preset sanitize
cmake --workflow --preset windows-i686
