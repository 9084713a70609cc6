#!/usr/bin/env bash
# The benchmark: the program against `cat` and `dd bs=256K` of the same file, on generated LOC
# files of the sizes given in MiB (default 64 512 1024), 7 measured runs each.
# Files are kept in build/bench between runs (about 3 times the largest size).
# Usage: tools/bench.sh [MEBIBYTES...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh build
cmake --preset example >/dev/null
cmake --build --preset example --target vornhold-extract generate_loc bench >/dev/null
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(64 512 1024)
build/example/tools/bench build/example/vornhold-extract build/example/tools/generate_loc \
  build/bench "${RUNS:-7}" "${sizes[@]}"
