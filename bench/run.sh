#!/usr/bin/env bash
# Builds the release preset and runs every benchmark beside its reference, then prints one
# table: each path's throughput, its reference's, the ratio of their times, the limit on this
# machine (the fastest way it does the same work) and our time over the limit's; medians of
# several runs with the spread of ours. Every build and benchmark step holds the shared build
# lock, so nothing builds beside a measurement; a step is kept to a few minutes.
#
# Usage: bench/run.sh [--quick] [--no-build] [--only PATTERN] [--samples FILE]
#   --quick     fewer and smaller runs (a smoke test of the script, not figures to quote)
#   --no-build  run what build/release holds
#   --only      run only the steps whose name matches PATTERN (crypto gzip download relay
#               image resume workflow), appending to the samples file
#   --samples   where the raw samples go (default build/release/bench-samples.txt); the table
#               is printed from every sample in it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
lock=/tmp/veltrane-build.lock
quick=0
build=1
only=.
samples=$root/build/release/bench-samples.txt
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --no-build) build=0 ;;
    --only) only=$2; shift ;;
    --samples) samples=$2; shift ;;
    *) echo "usage: $0 [--quick] [--no-build] [--only PATTERN] [--samples FILE]" >&2; exit 2 ;;
  esac
  shift
done
locked() { flock "$lock" "$@"; }
wanted() { [[ $1 =~ $only ]]; }

[ $build = 0 ] || [ -f build/release/build.ninja ] || locked cmake --preset release >/dev/null
[ $build = 0 ] || locked cmake --build --preset release -j2 --target sha512_bench decode_bench update_bench download_bench \
  image_write_bench veltrane mapservice mkupdate navisim Decode sha512 >/dev/null
bin=$root/build/release/bin
benchbin=$root/build/release/bin
[ "$only" = . ] && : > "$samples"
mkdir -p "$(dirname "$samples")"
touch "$samples"

reps=5; [ $quick = 1 ] && reps=2
note() { printf '%s\n' "$*" >&2; }
note "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

# Google Benchmark rows: "<row> <ours> <reference>" by benchmark name; the limit from `openssl speed`
# or another benchmark. Samples are seconds per MiB.
gbench() {  # program filter
  "$benchbin/$1" --benchmark_filter="$2" --benchmark_repetitions=$reps --benchmark_min_time=0.3 \
    --benchmark_format=csv 2>/dev/null | grep -v '_mean\|_median\|_stddev\|_cv' | tail -n +2
}
per_mib() {  # csv lines of one benchmark name -> seconds per MiB, one a line
  awk -F, -v name="\"$1\"" '$1 == name { print 1048576 / $6 }'
}
openssl_speed() {  # algorithm bytes -> seconds per MiB
  openssl speed -mr -seconds 1 -bytes "$2" ${3:-} "$1" 2>/dev/null | awk -F: '/^\+F:/ { print 1048576 / $4 }'
}
pair() {  # row ours-file reference-file limit-file
  paste -d' ' "$2" "$3" "$4" | awk -v row="$1" 'NF == 3 { print "sample", row, 1, $1, $2, $3 }' >> "$samples"
}

tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
# Each group of steps runs under one hold of the lock, a few minutes each.
exec 9>>"$lock"
flock 9
if wanted crypto; then
  note "crypto: sha512 exports and Decode beside OpenSSL"
  gbench sha512_bench 'Sha512Exports|OpenSslSha512' > "$tmp/sha"
  for bytes in 4096 1048576; do
    per_mib "Sha512Exports/$bytes" < "$tmp/sha" > "$tmp/ours"
    per_mib "OpenSslSha512/$bytes" < "$tmp/sha" > "$tmp/ref"
    for _ in $(seq $reps); do openssl_speed sha512 $bytes; done > "$tmp/limit"
    pair "sha512-exports-$((bytes / 1024))KiB" "$tmp/ours" "$tmp/ref" "$tmp/limit"
  done
  gbench decode_bench 'Decode/1048576|OpenSslDesCbcDecrypt/1048576' > "$tmp/des"
  per_mib "Decode/1048576" < "$tmp/des" > "$tmp/ours"
  per_mib "OpenSslDesCbcDecrypt/1048576" < "$tmp/des" > "$tmp/ref"
  for _ in $(seq $reps); do openssl_speed des-cbc 1048576 "-provider legacy -provider default"; done > "$tmp/limit"
  pair "Decode-1MiB" "$tmp/ours" "$tmp/ref" "$tmp/limit"
fi
if wanted gzip; then
  note "gzip: GzipExtract beside gzip -dc, CRC-16 beside zlib's crc32"
  gbench update_bench '.' > "$tmp/upd"
  per_mib GzipExtractFile/real_time < "$tmp/upd" > "$tmp/ours"
  per_mib GzipDc/real_time < "$tmp/upd" > "$tmp/ref"
  per_mib ZlibInflateToMemory/real_time < "$tmp/upd" > "$tmp/limit"
  pair "GzipExtract-64MiB" "$tmp/ours" "$tmp/ref" "$tmp/limit"
  per_mib Crc16Buffer < "$tmp/upd" > "$tmp/ours"
  per_mib ZlibCrc32Buffer < "$tmp/upd" > "$tmp/ref"
  pair "Crc16-64MiB" "$tmp/ours" "$tmp/ref" "$tmp/ref"
fi
flock -u 9
bench_samples() { grep '^sample ' | awk -v mib="$1" '{ print $1, $2, mib, $3, $4, $5 }' >> "$samples"; }
flock 9
if wanted download; then
  size=512; [ $quick = 1 ] && size=64
  note "download: $size MiB over HTTPS beside curl"
  "$benchbin/download_bench" $size 0 3 | tee "$tmp/dl" | bench_samples $size
fi
if wanted relay; then
  size=300; [ $quick = 1 ] && size=32
  for delay in 0 25; do
    for reuse in reuse no-reuse; do
      note "relay: the demo's set ($size MiB image in 100 pieces) with $delay ms added each way, $reuse"
      "$benchbin/download_bench" $size $delay 3 demo $reuse | tee "$tmp/relay$delay$reuse" | bench_samples $size
    done
  done
fi
flock -u 9; flock 9
if wanted image; then
  sizes="256 1024"; [ $quick = 1 ] && sizes=32
  for size in $sizes; do
    note "image: $size MiB image step beside dd + cmp and the bare loop"
    "$benchbin/image_write_bench" $size 100 3 | tee "$tmp/image$size" | bench_samples $size
  done
fi
flock -u 9
if wanted resume; then
  size=1024; [ $quick = 1 ] && size=16
  flock 9
  for _ in $(seq 3); do
    note "resume: a transfer cut off at 90 % of a $size MiB image, finished by the next start, beside a whole transfer"
    "$root/bench/resume.sh" "$bin" $size | awk -v mib=$size '/^sample / { print $1, $2, mib, $3, $4, $5 }' >> "$samples"
  done
  flock -u 9
fi
if wanted workflow; then
  sizes="64 256 1024"; [ $quick = 1 ] && sizes=16
  for size in $sizes; do
    runs=3; [ $quick = 1 ] && runs=1
    flock 9  # a size's runs under one hold; a 1 GiB run takes a few minutes
    for _ in $(seq $runs); do
      note "workflow: $size MiB download and transfer beside curl + md5sum, gzip -dc, dd + cmp"
      "$root/bench/workflow.sh" "$bin" $size 1 | tee -a "$tmp/workflow" | \
        awk -v mib=$size '/^sample / { print $1, $2, mib, $3, $4, "-"; print "detail", $2, $5, $6, $3, $7 }' >> "$samples"
    done
    flock -u 9
  done
fi

# The table: medians per row; ratios are time over time (below 1: faster than the other).
printf '\nmachine: %s, %s cores, %s, %s\n' "$(lscpu | sed -n 's/^Model name: *//p')" "$(nproc)" \
  "$(uname -r)" "$(df -T /tmp | awk 'NR == 2 { print $2 }') under /tmp"
awk '
function median(list, n,   i, j, t, a) {
  split(list, a, " "); n = 0; for (i in a) if (a[i] != "") n++
  for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
  return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function lo(list,   a, i, m) { split(list, a, " "); m = ""; for (i in a) if (a[i] != "" && (m == "" || a[i] + 0 < m)) m = a[i] + 0; return m }
# The target for our time over the limit on a row, or none.
function target(row) {
  if (row ~ /^image-/) return 1.15
  if (row ~ /^resume-/) return 0.20
  if (row ~ /^download-[0-9]+MiB-0ms$/) return 1.2
  return ""
}
function hi(list,   a, i, m) { split(list, a, " "); m = ""; for (i in a) if (a[i] != "" && (m == "" || a[i] + 0 > m)) m = a[i] + 0; return m }
$1 == "sample" {
  if (!($2 in mib)) order[++rows] = $2
  mib[$2] = $3; ours[$2] = ours[$2] " " $4; ref[$2] = ref[$2] " " $5; n[$2]++
  if ($6 != "-") limit[$2] = limit[$2] " " $6
}
$1 == "detail" { total[$2] = total[$2] " " $3; waits[$2] = waits[$2] " " $4; work[$2] = work[$2] " " $5; peak[$2] = peak[$2] " " $6 }
END {
  printf "%-28s %10s %10s %7s %10s %8s %15s %3s %14s\n", "path (MiB/s)", "ours", "reference", "ratio", "limit", "/limit", "spread of ours", "n", "target /limit"
  for (r = 1; r <= rows; r++) {
    k = order[r]; o = median(ours[k]); f = median(ref[k])
    spread = sprintf("%.1f-%.1f", mib[k] / hi(ours[k]), mib[k] / lo(ours[k]))
    if (limit[k] != "") { l = median(limit[k]); ls = sprintf("%10.1f %8.2f", mib[k] / l, o / l) } else ls = sprintf("%10s %8s", "-", "-")
    t = target(k); ts = "-"
    if (t != "" && limit[k] != "") ts = sprintf("%.2f %s", t, o / l <= t ? "met" : "MISSED")
    printf "%-28s %10.1f %10.1f %7.2f %s %15s %3d %14s\n", k, mib[k] / o, mib[k] / f, o / f, ls, spread, n[k], ts
  }
  first = 1
  for (k in total) {
    if (first) { printf "\n%-28s %9s %12s %9s %14s\n", "whole workflow (medians)", "total s", "fixed waits s", "work s", "peak RSS MiB"; first = 0 }
    printf "%-28s %9.1f %12.1f %9.1f %14.1f\n", k, median(total[k]), median(waits[k]), median(work[k]), median(peak[k]) / 1024
  }
}' "$samples"
printf '\nratio: our time / the reference'"'"'s (the limit'"'"'s for /limit); image rows: ours is the step without its\n'
printf '50 ms pauses, the reference dd onto an allocated file + cmp, the limit a bare pwrite 32 KiB + fdatasync loop;\n'
printf 'download rows: files from nginx over HTTPS in its own process; reference curl + md5sum a process a file,\n'
printf 'limit one curl to /dev/null + md5sum; rows ending\n'
printf '"-no-reuse": every request and file on its own connection and full TLS handshake (before the session kept them);\n'
printf 'resume rows: ours is the work of finishing a transfer cut off at 90 %% of its image, the reference and the limit a whole transfer'"'"'s work (target: at most 0.20 of it).\n'
printf 'workflow rows: ours is the work (jobs minus fixed waits), the reference the CLI sum (curl + md5sum, gzip -dc, dd + cmp).\n'
