#!/usr/bin/env bash
# The demo: installs what is missing, builds, and sets up a world of its own in build/demo - a
# program folder, a simulated PC with a navigation unit holding an older map, an update set and
# the map-update service on loopback - then starts Veltrane in its window. Without a display (or
# with --auto) the same workflow runs by itself on the Qt front end offscreen: download,
# transfer, then the unit is checked; the transcript is printed and screenshots are left in
# build/demo/shots. The service is stopped when the demo ends. With --installed the program is
# the installed package's (veltrane on the PATH, with its per-user program folder under the
# demo's own XDG_DATA_HOME); the tools still come from the build.
#
# With --as USER (as root) the program runs as that user, who is not root (runuser), in a world
# handed to that user.
# Usage: scripts/demo.sh [--auto] [--size MIB] [--installed] [--as USER]   (MIB: the map image, default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

auto=0
size=300
installed=0
user=""
while [ $# -gt 0 ]; do
  case "$1" in
    --auto) auto=1 ;;
    --size) size="$2"; shift ;;
    --installed) installed=1 ;;
    --as) user=$2; shift ;;
    *) echo "usage: $0 [--auto] [--size MIB] [--installed] [--as USER]" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then auto=1; fi

bash scripts/install-deps.sh
cmake --preset default >/dev/null
# Only what the demo runs: the program, its two libraries and resources, and the three tools.
cmake --build --preset default -j "$(nproc)" --target veltrane Decode sha512 veltrane_resources mapservice mkupdate navisim
bin=$root/build/default/bin

demo=${VELTRANE_DEMO:-$root/build/demo}
rm -rf "$demo"
program=$demo/program
if [ "$installed" = 1 ]; then
  export XDG_DATA_HOME=$demo/data
  program=$XDG_DATA_HOME/veltrane/program
fi
mkdir -p "$demo"/{machine,maps,service,shots} "$program"
export VELTRANE_MACHINE=$demo/machine

# Z: is the native root, so a native folder is "Z:" and its path with backslashes.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

echo "== update set: a ${size} MiB map image in 100 pieces"
image=$demo/service/image.img
head -c $((size * 1024 * 1024)) /dev/urandom > "$image"
# A volume image carries the boot-sector signature in its first sector and in its copy.
for offset in 510 3070; do printf '\x55\xaa' | dd of="$image" bs=1 seek=$offset conv=notrunc status=none; done
"$bin/mkupdate" --version 2026.0411 --image-file "$image" --image-pieces 100 "$demo/service/set" >/dev/null

echo "== map-update service on loopback"
"$bin/mapservice" --https-port 0 --port-file "$demo/service/ports" --make-certs "$demo/service/certs" \
  --update-set "$demo/service/set" --ver-gen 2026 --ver-major 04 --ver-minor 11 \
  --product-name "2026年春版" --log "$demo/service/calls.jsonl" >"$demo/service/mapservice.log" 2>&1 &
service=$!
trap 'kill $service 2>/dev/null || true; wait $service 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q '^https=' "$demo/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^https=//p' "$demo/service/ports")
[ -n "$port" ] || { cat "$demo/service/mapservice.log"; exit 1; }

echo "== program folder"
[ "$installed" = 1 ] || cp "$bin"/{veltrane,libDecode.so,libsha512.so,Message.ini} "$program/"
cp "$demo/service/certs/ca.pem" "$program/ca-bundle.pem"
maps=$(windows_path "$demo/maps")
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=https://127.0.0.1:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=${maps//\\/\\\\}\r|" "$bin/Veltrane.ini" > "$program/Veltrane.ini"
printf '[debugger]\r\nDebugMode=Yes\r\nLogFile=veltrane.log\r\nDeleteOnStart=Yes\r\n' > "$program/debugger.ini"

echo "== simulated PC with a unit holding version 2010.0601"
"$bin/navisim" init
"$bin/navisim" create-unit --version 2010.0601 --image-size $(((size + 16) * 1024 * 1024))
if [ "$auto" = 1 ]; then
  cp "$root/scripts/demo.script" "$demo/machine/demo.script"
  printf '\n[Automation]\nFrontEnd=qt\nScript=demo.script\nTranscript=demo.transcript\nScreenshots=%s\n' \
    "$demo/shots" >> "$demo/machine/machine.ini"
fi

echo "== Veltrane"
# The exit status is the automatic session's outcome (1: a line failed), told after its transcript.
status=0
if [ -n "$user" ]; then
  chown -R "$user" "$demo"
  run_as=(runuser -u "$user" -- env HOME="$demo" XDG_DATA_HOME="${XDG_DATA_HOME:-}" VELTRANE_MACHINE="$VELTRANE_MACHINE")
  if [ "$installed" = 1 ]; then "${run_as[@]}" veltrane || status=$?; else (cd "$program" && "${run_as[@]}" ./veltrane) || status=$?; fi
elif [ "$installed" = 1 ]; then veltrane || status=$?; else (cd "$program" && ./veltrane) || status=$?; fi

if [ "$auto" = 1 ]; then
  echo "== transcript"
  cat "$demo/machine/demo.transcript"
  if [ "$status" != 0 ]; then echo "the automatic session failed (exit status $status)" >&2; exit 1; fi
  echo "== the unit"
  "$bin/navisim" check navi --image "$image"
  echo "== transfer completion reported to the service"
  grep '"call":"TSC"' "$demo/service/calls.jsonl"
  echo "== screenshots"
  ls "$demo/shots"
fi
