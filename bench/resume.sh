#!/usr/bin/env bash
# A transfer cut off at 90 % of its image and finished by the next start, beside a whole
# transfer, on the release build: the map-update service (HTTP on loopback), a simulated unit
# that loses its power once 90 % of the image is written, and Veltrane on the headless front
# end. Run 1 downloads and transfers until the power cut; run 2 (the unit plugged in again)
# finishes the cut-off transfer; run 3 transfers the same download whole onto a fresh unit.
# Work = the transfer job's time since the button press minus its fixed waits, from the
# transcript's job lines, as the workflow rows count it.
#
# Usage: bench/resume.sh BIN_DIR SIZE_MIB
# Prints "sample resume-<size>MiB <finishing work> <whole transfer work> <whole transfer work>".
set -euo pipefail
bin=$(cd "$1" && pwd)
size=$2

work=$(mktemp -d /tmp/veltrane-resume-XXXXXX)
service=
cleanup() {
  if [ -n "$service" ]; then kill "$service" 2>/dev/null || true; wait "$service" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{program,machine,maps,service}
export VELTRANE_MACHINE=$work/machine
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

image=$work/service/image.img
head -c $((size * 1024 * 1024)) /dev/urandom > "$image"
for offset in 510 3070; do printf '\x55\xaa' | dd of="$image" bs=1 seek=$offset conv=notrunc status=none; done
"$bin/mkupdate" --version 2026.0411 --image-file "$image" --image-pieces 100 "$work/service/set" >/dev/null
"$bin/mapservice" --http-port 0 --port-file "$work/service/ports" --update-set "$work/service/set" \
  --ver-gen 2026 --ver-major 04 --ver-minor 11 --product-name "2026年春版" >"$work/service/mapservice.log" 2>&1 &
service=$!
for _ in $(seq 100); do grep -q '^http=' "$work/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^http=//p' "$work/service/ports")

cp "$bin"/{veltrane,libDecode.so,libsha512.so,Message.ini} "$work/program/"
maps=$(windows_path "$work/maps")
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=http://127.0.0.1:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=${maps//\\/\\\\}\r|" "$bin/Veltrane.ini" > "$work/program/Veltrane.ini"

start='wait 174:1060 "接続済み" 60000
press 174:1'
transfer='dialog 146 OK
box OK
press 1013
job transfer 3600000
wait 1028 "未接続" 60000
dialog 209 OK
menu 32780'
download="$start
wait 1028 \"接続済み\" 60000
box OK
press 1014
job download 3600000
wait 1014 \"ﾀﾞｳﾝﾛｰﾄﾞ開始\" 60000
check 0
$transfer"
finish="$start
wait 1082 \"中断\" 60000
$transfer"
whole="$start
wait 1028 \"接続済み\" 60000
check 0
$transfer"

fresh_unit() {
  rm -rf "$work/machine"; mkdir -p "$work/machine"
  "$bin/navisim" init >/dev/null
  "$bin/navisim" create-unit --version 2010.0601 --image-size $(((size + 16) * 1024 * 1024)) >/dev/null
  printf '\n[Automation]\nFrontEnd=headless\nScript=run.script\nTranscript=run.transcript\n' >> "$work/machine/machine.ini"
}
# Runs a script; prints the transfer job's work in seconds.
transfer_work() {
  printf '%s\n' "$1" > "$work/machine/run.script"
  sync
  (cd "$work/program" && ./veltrane >/dev/null 2>&1)
  grep -q "FAILED line" "$work/machine/run.transcript" && { cat "$work/machine/run.transcript" >&2; exit 1; }
  sed -n 's/.*job transfer [0-9]*: done after [0-9]* ms; \([0-9]*\) ms since the last action, \([0-9]*\) ms of them in fixed waits/\1 \2/p' \
    "$work/machine/run.transcript" | awk '{ print ($1 - $2) / 1000 }'
}

fresh_unit
"$bin/navisim" fault navi --power-cut-after $((size * 1024 * 1024 * 9 / 10)) >/dev/null
transfer_work "$download" >/dev/null
[ -f "$work/maps/Transfer.ini" ] || { echo "the power cut left no transfer record" >&2; exit 1; }
"$bin/navisim" fault navi --clear >/dev/null
"$bin/navisim" plug navi >/dev/null
finishing=$(transfer_work "$finish")
"$bin/navisim" check navi --image "$image" >/dev/null || { echo "the finished unit does not hold the image" >&2; exit 1; }
fresh_unit
whole_work=$(transfer_work "$whole")
"$bin/navisim" check navi --image "$image" >/dev/null || { echo "the unit does not hold the image" >&2; exit 1; }
echo "sample resume-${size}MiB $finishing $whole_work $whole_work"
