#!/usr/bin/env bash
# Builds and runs every test: the native build, and the 32-bit Windows build
# under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh native windows
cmake --workflow --preset default
cmake --workflow --preset windows-i686
