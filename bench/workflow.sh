#!/usr/bin/env bash
# The whole workflow on the release build: the map-update service (HTTPS on loopback), a
# simulated PC with a unit, and Veltrane on the headless front end driven by a script that
# downloads the offered update and transfers it onto the unit. Beside it, the CLI pieces doing
# the same work: curl + md5sum for every file, gzip -dc for the compressed ones, dd onto an
# allocated file of the volume's size + cmp for the image.
#
# The transcript's job lines give each job's time since the button press and how much of it
# the program spent in its fixed waits (Sleep); work = time - fixed waits. Peak memory is the
# program's maximum resident set (GNU time).
#
# Usage: bench/workflow.sh BIN_DIR SIZE_MIB [REPETITIONS]
# Prints one "sample workflow-<size>MiB <work> <cli sum> <total> <fixed waits> <peak KiB>" line
# per repetition.
set -euo pipefail
bin=$(cd "$1" && pwd)
size=$2
repetitions=${3:-1}

work=$(mktemp -d /tmp/veltrane-workflow-XXXXXX)
service=
cleanup() {
  if [ -n "$service" ]; then kill "$service" 2>/dev/null || true; wait "$service" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{program,machine,maps,service}
export VELTRANE_MACHINE=$work/machine
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
seconds() { date +%s.%N; }

# The set: a random image with both boot signatures, in 100 pieces.
image=$work/service/image.img
head -c $((size * 1024 * 1024)) /dev/urandom > "$image"
for offset in 510 3070; do printf '\x55\xaa' | dd of="$image" bs=1 seek=$offset conv=notrunc status=none; done
"$bin/mkupdate" --version 2026.0411 --image-file "$image" --image-pieces 100 "$work/service/set" >/dev/null
"$bin/mapservice" --https-port 0 --port-file "$work/service/ports" --make-certs "$work/service/certs" \
  --update-set "$work/service/set" --ver-gen 2026 --ver-major 04 --ver-minor 11 \
  --product-name "2026年春版" --log "$work/service/calls.jsonl" >"$work/service/mapservice.log" 2>&1 &
service=$!
for _ in $(seq 100); do grep -q '^https=' "$work/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^https=//p' "$work/service/ports")
ca=$work/service/certs/ca.pem

cp "$bin"/{veltrane,libDecode.so,libsha512.so,Message.ini} "$work/program/"
cp "$ca" "$work/program/ca-bundle.pem"
maps=$(windows_path "$work/maps")
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=https://127.0.0.1:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=${maps//\\/\\\\}\r|" "$bin/Veltrane.ini" > "$work/program/Veltrane.ini"

cat > "$work/bench.script" <<'SCRIPT'
wait 174:1060 "接続済み" 60000
press 174:1
wait 1028 "接続済み" 60000
box OK
press 1014
job download 3600000
wait 1014 "ﾀﾞｳﾝﾛｰﾄﾞ開始" 60000
check 0
dialog 146 OK
box OK
press 1013
job transfer 3600000
wait 1028 "未接続" 60000
dialog 209 OK
menu 32780
SCRIPT

for ((run = 0; run < repetitions; run++)); do
  rm -rf "$work/machine" "$work/maps"; mkdir -p "$work/machine" "$work/maps"
  "$bin/navisim" init >/dev/null
  "$bin/navisim" create-unit --version 2010.0601 --image-size $(((size + 16) * 1024 * 1024)) >/dev/null
  printf '\n[Automation]\nFrontEnd=headless\nScript=%s\nTranscript=%s\n' "$work/bench.script" \
    "$work/transcript" >> "$work/machine/machine.ini"
  sync
  # A failed line ends the program with status 1: the transcript tells which.
  status=0
  (cd "$work/program" && /usr/bin/time -f '%M' -o "$work/peak" ./veltrane >/dev/null 2>&1) || status=$?
  if [ "$status" != 0 ] || ! grep -q "job transfer" "$work/transcript"; then
    cat "$work/transcript" >&2; echo "the workflow failed" >&2; exit 1
  fi
  "$bin/navisim" check navi --image "$image" >/dev/null || { echo "the unit does not hold the image" >&2; exit 1; }
  # "...: done after N ms; T ms since the last action, W ms of them in fixed waits"
  read -r total waits < <(sed -n 's/.*job [a-z]* [0-9]*: done after [0-9]* ms; \([0-9]*\) ms since the last action, \([0-9]*\) ms of them in fixed waits/\1 \2/p' \
    "$work/transcript" | awk '{ t += $1; w += $2 } END { print t / 1000, w / 1000 }')

  # The CLI pieces.
  cli=$work/cli; rm -rf "$cli"; mkdir -p "$cli"
  sync
  start=$(seconds)
  (cd "$work/service/set" && find . -type f | sort | while read -r file; do
     file=${file#./}; out=$cli/$(echo "$file" | tr / _)
     curl -s --cacert "$ca" -o "$out" "https://127.0.0.1:$port/map-dl/data/$file" && md5sum "$out" >/dev/null
   done)
  for file in "$cli"/*; do
    if [ "$(head -c 2 "$file" | od -An -tx1 | tr -d ' ')" = 1f8b ]; then gzip -dc < "$file" > "$file.out"; fi
  done
  fetched=$(seconds)
  # The dd target is allocated like the unit's volume, outside the timing.
  head -c $(((size + 16) * 1024 * 1024)) /dev/zero > "$cli/volume.img"; sync
  dd_start=$(seconds)
  dd if="$image" of="$cli/volume.img" bs=32k conv=notrunc oflag=dsync status=none
  cmp -n $((size * 1024 * 1024)) "$image" "$cli/volume.img"
  end=$(seconds)
  cli_sum=$(echo "$fetched - $start + $end - $dd_start" | bc -l)
  echo "sample workflow-${size}MiB $(echo "$total - $waits" | bc -l) $cli_sum $total $waits $(cat "$work/peak")"
done
