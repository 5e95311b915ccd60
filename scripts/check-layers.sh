#!/usr/bin/env bash
# Fails when a file of the program includes a header of a folder above its own layer, or when
# the two machine sources meet: platform/posix/ includes neither platform/sim/ (the simulated
# machine) nor platform/linux/ (the real PC), and no file includes both.
# Bottom to top; folders on one line share a layer. The libraries include nothing of ours.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(
  "decode sha512"
  "platform"
  "base"
  "state"
  "common"
  "net update device"
  "jobs"
  "app"
  "ui"
)
declare -A level
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do level[$folder]=$i; done
done
status=0
for folder in "${!level[@]}"; do
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
    [ -n "${level[$target]+x}" ] || continue
    if (( level[$target] > level[$folder] )); then
      echo "$file:$line: $folder (layer ${level[$folder]}) includes $target (layer ${level[$target]})"
      status=1
    fi
  done < <(grep -rnE '^#include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
while IFS= read -r file; do
  sources=$(grep -oE '^#include "platform/(linux|sim)/' "$file" | sort -u | wc -l)
  if [[ $file == platform/posix/* ]]; then
    echo "$file: posix/ includes a machine source (platform/linux/ or platform/sim/)"
    status=1
  elif (( sources > 1 )); then
    echo "$file: includes both machine sources (platform/linux/ and platform/sim/)"
    status=1
  fi
done < <(grep -rlE '^#include "platform/(linux|sim)/' platform tests tools bench --include='*.h' --include='*.cpp' || true)
exit $status
