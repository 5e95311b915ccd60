#!/usr/bin/env bash
# Builds the Debian package of the Linux program from an optimised build (the release preset)
# and prints its path: build/package/veltrane_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target veltrane Decode sha512 veltrane_resources
rm -rf build/package
cpack --config build/release/CPackConfig.cmake -B build/package >/dev/null
ls build/package/veltrane_*.deb
