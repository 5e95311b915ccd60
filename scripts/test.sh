#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite twice: in the default preset,
# then under AddressSanitizer + UndefinedBehaviorSanitizer (the asan preset); the threaded window
# and workflow suites under ThreadSanitizer (the tsan preset); then cross-builds
# the Windows program (the windows preset) and runs its tests under Wine; then the demo in its
# automatic mode with a small update set, which checks the unit at the end; then a short round
# of the kill soak (scripts/kill-soak.sh); then the Debian
# package is built, installed, run through the same session and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in default asan; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --test-dir "build/$preset" --output-on-failure -j "$(nproc)" --timeout 600
done
echo "== tsan (the window, workflow and soak tests, whose threads share the application object)"
cmake --preset tsan
cmake --build --preset tsan -j "$(nproc)"
ctest --preset tsan -j "$(nproc)" --timeout 600
echo "== windows (cross-built, tests under Wine)"
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows -j "$(nproc)"
echo "== the demo, automatic, with a small set"
bash scripts/demo.sh --auto --size 8
echo "== the kill soak: a short seeded round (the program killed and started again)"
bash scripts/kill-soak.sh --seed 1 --kills 4
echo "== the Debian package: built, installed, run, removed"
deb=$(bash scripts/package.sh | tail -1)
bash tests/installer/deb-install.sh "$deb"
