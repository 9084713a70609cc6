#!/usr/bin/env bash
# Builds the program (without its tests) and runs it on the bundled example in
# a scratch folder, build/example-run, then lists what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh build
cmake --preset example >/dev/null
cmake --build --preset example
scratch=build/example-run
rm -rf "$scratch"
mkdir -p "$scratch"
cp examples/languages.loc "$scratch/"
status=0
(cd "$scratch" && ../example/vornhold-extract) || status=$?
echo
echo "Exit status: $status. Files written in $scratch/Output:"
ls -l "$scratch/Output"
