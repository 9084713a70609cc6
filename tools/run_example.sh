#!/usr/bin/env bash
# Builds the program and runs it on the bundled example in a scratch folder
# (build/example-run), then lists what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target vornhold-extract
scratch=build/example-run
rm -rf "$scratch"
mkdir -p "$scratch"
cp examples/languages.loc "$scratch/"
status=0
(cd "$scratch" && ../default/vornhold-extract) || status=$?
echo
echo "Exit status: $status. Files written in $scratch/Output:"
ls -l "$scratch/Output"
