#!/bin/sh
# A session of Veltrane.exe on its Win32 window under Wine, scripted from its command line
# (as a dealer's batch starts it; a script that cannot be read ends with status 2): the connection dialog,
# the main window, a download from mapservice (the Linux program, on loopback, over HTTPS) to
# "ダウンロード完了", exit through the menu. The service's CA is a root of the session's prefix
# while it runs: Wine's WinINet keeps no certificate of a refused handshake, so the program's
# own ca-bundle.pem check cannot take over there (docs/windows.md). Checks the transcript, the history the program
# wrote and the files it downloaded; the screenshots stay in WORK/shots.
#   win32-session.sh WINDOWS_BIN LINUX_BIN WORK [--display] [--screen DPI]
# --display runs Wine's X11 driver on a virtual screen (Xvfb) instead of the null driver, and
# adds a picture of the whole screen (xwd) before exit. --screen gives the screen DPI dots per
# inch (the prefix's LogPixels; 96 unless asked, set on every run).
set -u
windows_bin=$1
linux_bin=$2
work=$3
shift 3
display=""
dpi=96
while [ $# -gt 0 ]; do
  case $1 in
    --display) display=--display; shift ;;
    --screen) dpi=$2; shift 2 ;;
    *) echo "unknown option $1"; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
fail() {
  echo "FAILED: $*"
  # The program's own log, to tell what went wrong.
  [ -f "$work/program/veltrane.log" ] && iconv -f CP932 -t UTF-8 -c "$work/program/veltrane.log" | tail -40
  exit 1
}
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work/program" "$work/maps" "$work/service" "$work/shots"
mkdir -p "$work/program" "$work/maps" "$work/service" "$work/shots"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# Japanese text needs a Japanese font: the Windows names map to IPA Gothic (fontconfig).
wine regedit "$here/wine-fonts.reg" >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
if [ "$display" = --display ]; then
  wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
  # No window manager on the virtual screen: Wine draws the frames itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
else
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
wineserver -w

# A small update set, served over HTTPS on a free loopback port.
head -c $((2 * 1024 * 1024)) /dev/urandom > "$work/service/image.img"
for offset in 510 3070; do printf '\125\252' | dd of="$work/service/image.img" bs=1 seek=$offset conv=notrunc status=none; done
"$linux_bin/mkupdate" --version 2026.0411 --image-file "$work/service/image.img" --image-pieces 4 "$work/service/set" >/dev/null \
  || fail "mkupdate"
"$linux_bin/mapservice" --https-port 0 --make-certs "$work/service/certs" --port-file "$work/service/ports" --update-set "$work/service/set" \
  --ver-gen 2026 --ver-major 04 --ver-minor 11 --product-name "2026年春版" --log "$work/service/calls.jsonl" \
  > "$work/service/mapservice.log" 2>&1 &
service=$!
xvfb=""
cleanup() {
  kill $service 2>/dev/null; wait $service 2>/dev/null
  [ -f "$work/program/ca-bundle.pem" ] && wine "$windows_bin/trust_root.exe" remove "$(windows_path "$work/program/ca-bundle.pem")" >/dev/null 2>&1
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wineserver -k 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 100); do grep -q '^https=' "$work/service/ports" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^https=//p' "$work/service/ports")
[ -n "$port" ] || fail "mapservice did not start: $(cat "$work/service/mapservice.log")"

# The program folder, its settings pointing at the service (by name: Wine checks a certificate's
# names, not its addresses) and at a map folder on Z:.
cp "$windows_bin/Veltrane.exe" "$windows_bin/Decode.dll" "$windows_bin/sha512.dll" "$windows_bin/Message.ini" "$work/program/"
cp "$work/service/certs/ca.pem" "$work/program/ca-bundle.pem"
wine "$windows_bin/trust_root.exe" add "$(windows_path "$work/program/ca-bundle.pem")" || fail "trust_root"
maps=$(printf 'Z:%s' "$work/maps" | sed 's|/|\\\\|g')
sed -e "s|^EXTERNAL_INTERFACE_URL=.*|EXTERNAL_INTERFACE_URL=https://localhost:$port/map-dl\r|" \
    -e "s|^MAPFOLDER=.*|MAPFOLDER=$maps\r|" "$windows_bin/Veltrane.ini" > "$work/program/Veltrane.ini"
printf '[debugger]\r\nDebugMode=Yes\r\nLogFile=veltrane.log\r\nDeleteOnStart=Yes\r\n' > "$work/program/debugger.ini"
cp "$here/win32-session.script" "$work/program/session.script"
shots=$(windows_path "$work/shots")

# A script that cannot be read: status 2 and the reason on stderr, no window.
(cd "$work/program" && timeout 120 wine Veltrane.exe --script missing.script 2> "$work/missing.err")
missing=$?
[ "$missing" -eq 2 ] || fail "a missing script ended with $missing"
grep -q "cannot read" "$work/missing.err" || fail "no reason on stderr: $(cat "$work/missing.err")"

if [ "$display" = --display ]; then
  Xvfb :57 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=:57
  sleep 1
else
  unset DISPLAY
fi
start=$(date +%s)
(cd "$work/program" && timeout 600 wine Veltrane.exe --script session.script --transcript session.transcript \
  --screenshots "$shots" --result result.json) &
session=$!
if [ "$display" = --display ]; then
  # The whole virtual screen once the download has finished.
  for _ in $(seq 600); do [ -s "$work/shots/04-after-download.png" ] && break; sleep 1; done
  xwd -root -display :57 -silent > "$work/shots/screen.xwd" 2>/dev/null
fi
wait $session
status=$?
echo "session: exit $status after $(( $(date +%s) - start )) s"

transcript="$work/program/session.transcript"
[ -f "$transcript" ] || fail "no transcript"
cat "$transcript"
[ "$status" -eq 0 ] || fail "Veltrane.exe ended with $status"
grep -q "FAILED" "$transcript" && fail "the script failed"
grep -q "end of script" "$transcript" || fail "the script did not finish"
grep -q '^{"outcome":"completed","failure":null,' "$work/program/result.json" \
  || fail "the result file does not say completed: $(cat "$work/program/result.json" 2>/dev/null)"
grep -q '"downloadMilliseconds":[0-9]' "$work/program/result.json" || fail "the result has no download time"
grep -q '"scheme":"https","call":"DLS"' "$work/service/calls.jsonl" || fail "no download description was fetched over HTTPS"
history=$(iconv -f CP932 -t UTF-8 "$work/maps/History.ini" 2>/dev/null)
echo "$history" | grep -q "STATUS=ダウンロード完了" || fail "the history does not say ダウンロード完了: $history"
for shot in 01-connection.png 02-before-download.png 03-download-complete.png 04-after-download.png; do
  [ -s "$work/shots/$shot" ] || fail "no screenshot $shot"
done
echo "win32 session: all checks passed"
