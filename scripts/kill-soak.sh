#!/usr/bin/env bash
# The kill soak: the program is killed (SIGKILL) at seeded random moments of a download and a
# transfer onto the simulated unit, and started again, until the update is finished. Each round
# starts from a fresh PC (a unit with the old map, an empty map folder) and kills one to three
# runs in a row; the next run then does what the user would: finish the cut-off transfer when
# the window says so, else transfer a finished download, else download (or resume) and transfer.
# After the round: the unit holds the update's image with both boot signatures, every file the
# service delivered is byte-equal in the map folder and on the unit, no temporary, resume or
# intermediate file is left, and each completion call reached the service once.
#
# Usage: scripts/kill-soak.sh [--seed N] [--kills N] [--size MIB] [--build DIR]
#   (default: seed 1, 4 kills, a 4 MiB image, build/default). Prints one line per kill and a
#   summary; exit status 1 when a round did not end with the update on the unit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seed=1
kills=4
size=4
build=$root/build/default
while [ $# -gt 0 ]; do
  case "$1" in
    --seed) seed="$2"; shift ;;
    --kills) kills="$2"; shift ;;
    --size) size="$2"; shift ;;
    --build) build="$2"; shift ;;
    *) echo "usage: $0 [--seed N] [--kills N] [--size MIB] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done
bin=$build/bin
RANDOM=$seed

soak=$(mktemp -d /tmp/veltrane-soak.XXXXXX)
program=$soak/program
maps=$soak/maps
export VELTRANE_MACHINE=$soak/machine
mkdir -p "$program" "$maps" "$soak/service"
service=
cleanup() {
  [ -n "$service" ] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
  rm -rf "$soak"
}
trap cleanup EXIT

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The update set (100 pieces, as issued) and the service for the whole soak.
image=$soak/service/image.img
head -c $((size * 1024 * 1024)) /dev/urandom > "$image"
for offset in 510 3070; do printf '\x55\xaa' | dd of="$image" bs=1 seek=$offset conv=notrunc status=none; done
"$bin/mkupdate" --version 2026.0411 --image-file "$image" --image-pieces 100 "$soak/service/set" >/dev/null
"$bin/mapservice" --http-port 0 --port-file "$soak/service/ports" --update-set "$soak/service/set" \
  --ver-gen 2026 --ver-major 04 --ver-minor 11 --product-name "2026年春版" \
  --log "$soak/service/calls.jsonl" >"$soak/service/mapservice.log" 2>&1 &
service=$!
for _ in $(seq 100); do grep -q '^http=' "$soak/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^http=//p' "$soak/service/ports")
[ -n "$port" ] || { cat "$soak/service/mapservice.log"; exit 1; }

cp "$bin"/{veltrane,libDecode.so,libsha512.so,Message.ini} "$program/"
winmaps=$(windows_path "$maps")
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=http://127.0.0.1:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=${winmaps//\\/\\\\}\r|" "$bin/Veltrane.ini" > "$program/Veltrane.ini"
printf '[debugger]\r\nDebugMode=Yes\r\nLogFile=veltrane.log\r\nDeleteOnStart=No\r\n' > "$program/debugger.ini"

# What a user does, by what the window shows after a start.
connect='wait 174:1060 "接続済み" 60000
press 174:1'
transfer='dialog 146 OK
box OK
press 1013
job transfer 600000
wait 1028 "未接続" 60000'
script_full="$connect
wait 1028 \"接続済み\" 60000
box OK
press 1014
job download 600000
wait 1014 \"ﾀﾞｳﾝﾛｰﾄﾞ開始\" 60000
check 0
$transfer"
script_transfer="$connect
wait 1028 \"接続済み\" 60000
check 0
$transfer"
script_resume="$connect
wait 1082 \"中断\" 60000
$transfer"

fresh_pc() {
  rm -rf "$VELTRANE_MACHINE" "$maps"
  mkdir -p "$maps"
  "$bin/navisim" init >/dev/null
  "$bin/navisim" create-unit --version 2010.0601 --image-size $(((size + 1) * 1024 * 1024)) >/dev/null
  printf '\n[Automation]\nFrontEnd=headless\nScript=run.script\nTranscript=run.transcript\n' >> "$VELTRANE_MACHINE/machine.ini"
}

# The script for the next run, from the state the last one left: nothing when the unit holds
# the whole update already (a kill after the transfer's end; the user finds the new map).
next_script() {
  local unit=$VELTRANE_MACHINE/units/navi/files/UPDATE
  if [ -f "$maps/Transfer.ini" ]; then echo resume
  elif [ -f "$unit/RENEWAL/VERINFO.DAT" ] && [ ! -f "$unit/NAVIINFO/CANCEL.FLG" ]; then echo none
  elif [ -f "$maps/History.ini" ] && iconv -f CP932 -t UTF-8 "$maps/History.ini" | grep -q 'STATUS=ダウンロード完了'; then echo transfer
  else echo full
  fi
}

# What the program was doing when it was killed: the last telling line of its log.
phase_of() {
  tail -c +"$1" "$program/veltrane.log" | iconv -f CP932 -t UTF-8 -c | awk '
    /MapDownloadThread開始/ {p="download"}
    /SetHistoryData/ {p="history-save"}
    /NaviThread開始/ {p="preparation"}
    /書込み開始時間/ {p="image-write"}
    /書込み終了時間/ {p="read-back"}
    /:終了時間\[/ {p="piece-pause"}
    /ドライブクローズ開始|6000番台ファイルコピー$/ {p="volume-wait"}
    /アンロックチェック|PCファイル\[/ {p="file-copies"}
    /NaviThread\t終了/ {p="completion"}
    END {print p == "" ? "start-up" : p}'
}

# Starts the program with a script; kills it after `delay` seconds unless it ended first.
# Prints the phase it was killed in, or "ended".
run() {
  local script=$1 delay=$2 offset pid
  # A unit ejected at the end of the last run is plugged in again, as the user would.
  "$bin/navisim" plug navi >/dev/null
  printf '%s\n' "${!script}" > "$VELTRANE_MACHINE/run.script"
  offset=$(( $(stat -c %s "$program/veltrane.log" 2>/dev/null || echo 0) + 1 ))
  (cd "$program" && exec ./veltrane >/dev/null 2>&1) &
  pid=$!
  if [ "$delay" = none ]; then
    if ! timeout 900 tail --pid=$pid -f /dev/null; then kill -KILL $pid; echo "hung"; return; fi
    wait $pid || true
    echo ended
    return
  fi
  local waited=0
  while [ "$(echo "$waited < $delay" | bc)" = 1 ] && kill -0 $pid 2>/dev/null; do sleep 0.05; waited=$(echo "$waited + 0.05" | bc); done
  if kill -KILL $pid 2>/dev/null; then
    wait $pid 2>/dev/null || true
    phase_of "$offset"
  else
    wait $pid || true
    echo ended
  fi
}

check_round() {
  local round=$1 calls_before=$2 problems=()
  if grep -q "FAILED line" "$VELTRANE_MACHINE/run.transcript" 2>/dev/null; then
    problems+=("the last run's script failed: $(grep -m1 'FAILED line' "$VELTRANE_MACHINE/run.transcript")")
  fi
  "$bin/navisim" plug navi >/dev/null
  "$bin/navisim" check navi --image "$image" > "$soak/check.txt" || problems+=("the unit differs from the update")
  grep -q '^boot signature 0: 55 AA' "$soak/check.txt" || problems+=("boot signature 0 cleared")
  grep -q '^boot signature 2560: 55 AA' "$soak/check.txt" || problems+=("boot signature 2560 cleared")
  (cd "$soak/service/set" && find . -type f) | while read -r f; do
    cmp -s "$soak/service/set/$f" "$maps/20260411/$f" || echo "map file $f differs"
  done > "$soak/files.txt"
  local files=$VELTRANE_MACHINE/units/navi/files/UPDATE/RENEWAL
  for f in DISCINFO.TXT DISKID.DAT; do cmp -s "$soak/service/set/$f" "$files/$f" || echo "unit file $f differs"; done >> "$soak/files.txt"
  cmp -s "$soak/service/set/RENEWAL/VERINFO.DAT" "$files/VERINFO.DAT" || echo "unit file VERINFO.DAT differs" >> "$soak/files.txt"
  for f in CONF1001.DAT CONF2000.DAT CONF6000.DAT CONFLIST.DAT AREANAME.TBL CONFCRC.DAT MAPLIST.DAT; do
    cmp -s "$soak/service/set/CONF/$f" "$files/CONF/$f" || echo "unit file CONF/$f differs"
  done >> "$soak/files.txt"
  while read -r line; do problems+=("$line"); done < "$soak/files.txt"
  local strays
  strays=$(find "$maps" "$program" \( -name '*.tmp*' -o -name '*.resume' -o -name 'NEW*' -o -name 'DECOMP*' -o -name 'Transfer.ini' \) -printf '%P ' )
  [ -z "$strays" ] || problems+=("left behind: $strays")
  local dls tsc
  dls=$(tail -n +"$calls_before" "$soak/service/calls.jsonl" | grep -c '"call":"DLS"' || true)
  tsc=$(tail -n +"$calls_before" "$soak/service/calls.jsonl" | grep -c '"call":"TSC"' || true)
  [ "$dls" = 1 ] || problems+=("download completion call sent $dls times")
  [ "$tsc" = 1 ] || problems+=("transfer completion call sent $tsc times")
  if [ ${#problems[@]} -eq 0 ]; then echo "round $round: recovered"; return 0; fi
  for p in "${problems[@]}"; do echo "round $round: $p"; done
  return 1
}

# A clean run tells how long a whole download and transfer takes: kills fall within it.
fresh_pc
start=$(date +%s.%N)
[ "$(run script_full none)" = ended ] || { echo "the clean run did not end"; exit 1; }
whole=$(echo "$(date +%s.%N) - $start" | bc)
printf 'seed %s, %s MiB image, a whole run %.1f s\n' "$seed" "$size" "$whole"

killed=0
rounds=0
failed=0
declare -A phases
while [ $killed -lt "$kills" ]; do
  rounds=$((rounds + 1))
  fresh_pc
  calls_before=$(( $(wc -l < "$soak/service/calls.jsonl") + 1 ))
  chain=$(( RANDOM % 3 + 1 ))
  for _ in $(seq $chain); do
    [ $killed -lt "$kills" ] || break
    next=$(next_script)
    [ "$next" != none ] || break
    script=script_$next
    delay=$(echo "scale=2; $whole * $RANDOM / 32768" | bc)
    outcome=$(run "$script" "$delay")
    [ "$outcome" = ended ] && break
    killed=$((killed + 1))
    phases[$outcome]=$(( ${phases[$outcome]:-0} + 1 ))
    echo "kill $killed (round $rounds, ${script#script_} run, after ${delay} s): $outcome"
  done
  # Started again until the update is through; a run that leaves a cut-off transfer is tried
  # once more.
  for _ in 1 2; do
    next=$(next_script)
    [ "$next" != none ] || break
    outcome=$(run "script_$next" none)
    [ "$outcome" = ended ] || break
    [ -f "$maps/Transfer.ini" ] || break
  done
  check_round $rounds "$calls_before" || failed=$((failed + 1))
done
summary=""
for p in "${!phases[@]}"; do summary+="$p ${phases[$p]}, "; done
echo "seed $seed: $killed kills in $rounds rounds (${summary%, }); recovered $((rounds - failed)) of $rounds rounds"
[ $failed -eq 0 ]
