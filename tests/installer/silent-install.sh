#!/bin/sh
# Installs VeltraneSetup.exe silently into a Wine prefix, checks what it put where, reinstalls
# over a changed Veltrane.ini, then uninstalls silently and checks what is gone and what stays.
# While the program runs (HOLD_MUTEX_EXE holds its mutex) both refuse, with exit code 2.
# Usage: silent-install.sh SETUP_EXE BIN_DIR PREFIX_DIR HOLD_MUTEX_EXE
set -u
setup=$1
bin=$2
export WINEPREFIX=$3
holder=$4
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
check() {  # check DESCRIPTION COMMAND...
  what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
folder="$WINEPREFIX/drive_c/Program Files/Veltrane"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Veltrane/Veltrane.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane'
rm -rf "$folder"

# The program "runs" while the file $held exists: hold_mutex holds its mutex until it is gone.
held="$WINEPREFIX/drive_c/held.txt"
hold() {
  rm -f "$held"
  wine "$holder" 'C:\held.txt' & holding=$!
  for _ in $(seq 300); do [ -f "$held" ] && break; sleep 0.1; done
}
release() { rm -f "$held"; wait "$holding"; }
refused() {  # refused DESCRIPTION COMMAND...: the command ends with exit code 2
  what=$1; shift
  "$@"; code=$?
  check "$what (exit code $code)" test "$code" -eq 2
}

hold
refused "no install while the program runs" wine "$setup" /S
check "nothing installed under the running program" test ! -e "$folder/Veltrane.exe"
release

# A folder named on the command line is not taken: any user may write to C:\Veltrane.
rm -rf "$WINEPREFIX/drive_c/Veltrane"
wine "$setup" /S '/D=C:\Veltrane'; wineserver -w
check "no install outside Program Files" test ! -e "$WINEPREFIX/drive_c/Veltrane"
for file in Veltrane.exe Decode.dll sha512.dll Message.ini Veltrane.ini; do
  check "$file installed as built" cmp -s "$bin/$file" "$folder/$file"
done
check "uninstaller written" test -f "$folder/Uninstall.exe"
check "Start-menu shortcut for every user" test -f "$shortcut"
check "shortcut names the program" sh -c "iconv -f UTF-16LE -t UTF-8 < '$shortcut' 2>/dev/null | tr -d '\000' | grep -q 'Veltrane.exe' || grep -aq 'Veltrane.exe' '$shortcut'"
check "uninstall entry" sh -c "wine reg query '$key' /v UninstallString 2>/dev/null | grep -q Uninstall.exe"

# A reinstall keeps the user's settings.
printf '[Setting]\r\nDownloadFolder=D:\\maps\r\n' > "$folder/Veltrane.ini"
wine "$setup" /S; wineserver -w
check "reinstall keeps the user's Veltrane.ini" grep -q 'DownloadFolder=D:' "$folder/Veltrane.ini"

# In place (_?=), so the exit code is the uninstaller's own and not that of the copy it would
# start; _?= must come unquoted, and Wine quotes an argument with a space: the short name.
hold
refused "no uninstall while the program runs" wine "$folder/Uninstall.exe" /S '_?=C:\PROGRA~1\Veltrane'
check "the running program's files stay" test -f "$folder/Veltrane.exe"
release

mkdir -p "$folder/download"
echo kept > "$folder/download/user.dat"
wine "$folder/Uninstall.exe" /S; wineserver -w
for file in Veltrane.exe Decode.dll sha512.dll Message.ini Veltrane.ini Uninstall.exe; do
  check "$file removed" test ! -e "$folder/$file"
done
check "shortcut removed" test ! -e "$shortcut"
check "uninstall entry removed" sh -c "! wine reg query '$key' >/dev/null 2>&1"
check "the user's own files stay" test -f "$folder/download/user.dat"
[ "$failures" -eq 0 ] && echo "silent install and uninstall: all checks passed"
exit "$failures"
