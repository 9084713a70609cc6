#!/usr/bin/env bash
# Fuzzes the LOC reader for a while (default 120 seconds) with libFuzzer, ASan and
# UBSan, starting from the saved corpus. Inputs that crash are kept in
# build/fuzz/artifacts and the script fails.
# Usage: tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
bash tools/install_deps.sh build tests fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/corpus build/fuzz/artifacts
build/fuzz/tests/loc_fuzzer -max_total_time="$seconds" -rss_limit_mb=512 -max_len=4096 \
  -timeout=10 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
  build/fuzz/corpus tests/fuzz/corpus
