#!/usr/bin/env bash
# Installs what is missing, builds the default preset and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --test-dir build/default --output-on-failure -j "$(nproc)" --timeout 600
