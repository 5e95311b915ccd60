#!/bin/sh
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for SECONDS (default 600)
# on a working copy of its committed seed corpus; prints executions and coverage per target.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets without the fuzz_ prefix)
# FUZZ_RUNS caps the executions (default 5 million; -1 runs for the whole time).
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"service_reply map_description url_coding profile control_files decode sha512_api mount_volume unit_files map_data history image_pieces ca_bundle"}

command -v clang++ >/dev/null || { scripts/install-deps.sh && apt-get install -y clang; }
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

for target in $targets; do
    work=build/fuzz/corpus/$target
    mkdir -p "$work" build/fuzz/artifacts
    cp -n tests/fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
    log=build/fuzz/$target.log
    # The description's faults need long inputs: one long field repeated into many entries.
    case $target in
        map_description) max_len=262144 ;;
        *) max_len=4096 ;;
    esac
    if ! build/fuzz/fuzz/fuzz_$target "$work" -max_len=$max_len -max_total_time="$seconds" -runs="${FUZZ_RUNS:-5000000}" -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$target- >"$log" 2>&1; then
        echo "$target: FAILED (see $log)"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "$target: $runs executions, $cov edges, corpus $(ls "$work" | wc -l) inputs"
done
