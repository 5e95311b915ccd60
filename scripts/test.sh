#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite twice: in the default preset,
# then under AddressSanitizer + UndefinedBehaviorSanitizer (the asan preset); then cross-builds
# the Windows program (the windows preset) and runs its tests under Wine; then the demo in its
# automatic mode with a small update set, which checks the unit at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in default asan; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --test-dir "build/$preset" --output-on-failure -j "$(nproc)" --timeout 600
done
echo "== windows (cross-built, tests under Wine)"
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows -j "$(nproc)"
echo "== the demo, automatic, with a small set"
bash scripts/demo.sh --auto --size 8
