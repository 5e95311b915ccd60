#!/usr/bin/env bash
# The Qt pictures of docs/support.md: the Linux program offscreen in a world of its own (the
# service on loopback, a simulated unit that goes away halfway through the image), driven by
# support-shots.script. Builds nothing: run it after building veltrane, its libraries and tools
# (TOOLS_BIN holds mapservice, mkupdate and navisim; LINUX_BIN by default).
#   support-shots.sh LINUX_BIN WORK [TOOLS_BIN]
set -euo pipefail
bin=$1
work=$2
tools=${3:-$1}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"/{machine,maps,service,shots,program,state}
export VELTRANE_MACHINE=$work/machine XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

head -c $((2 * 1024 * 1024)) /dev/urandom > "$work/service/image.img"
for offset in 510 3070; do printf '\x55\xaa' | dd of="$work/service/image.img" bs=1 seek=$offset conv=notrunc status=none; done
"$tools/mkupdate" --version 2026.0411 --image-file "$work/service/image.img" --image-pieces 4 "$work/service/set" >/dev/null
"$tools/mapservice" --https-port 0 --port-file "$work/service/ports" --make-certs "$work/service/certs" \
  --update-set "$work/service/set" --ver-gen 2026 --ver-major 04 --ver-minor 11 \
  --product-name "2026年春版" --log "$work/service/calls.jsonl" >"$work/service/mapservice.log" 2>&1 &
service=$!
trap 'kill $service 2>/dev/null || true; wait $service 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q '^https=' "$work/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^https=//p' "$work/service/ports")

cp "$bin"/{veltrane,libDecode.so,libsha512.so,Message.ini} "$work/program/"
cp "$work/service/certs/ca.pem" "$work/program/ca-bundle.pem"
maps=$(windows_path "$work/maps")
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=https://127.0.0.1:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=${maps//\\/\\\\}\r|" "$bin/Veltrane.ini" > "$work/program/Veltrane.ini"

"$tools/navisim" init
"$tools/navisim" create-unit --version 2010.0601 --image-size $((18 * 1024 * 1024))
"$tools/navisim" fault navi --vanish-after $((1024 * 1024))
cp "$here/support-shots.script" "$work/machine/shots.script"
printf '\n[Automation]\nFrontEnd=qt\nScript=shots.script\nTranscript=shots.transcript\nScreenshots=%s\n' \
  "$work/shots" >> "$work/machine/machine.ini"
(cd "$work/program" && ./veltrane) || true
cat "$work/machine/shots.transcript"
! grep -q "FAILED line" "$work/machine/shots.transcript"
ls "$work/shots"
