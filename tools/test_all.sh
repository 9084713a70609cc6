#!/usr/bin/env bash
# Builds and runs every test: the native build with g++.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native
cmake --workflow --preset default
