#!/bin/sh
# Installs VeltraneSetup.exe silently into a Wine prefix, checks what it put where, reinstalls
# over a changed Veltrane.ini, then uninstalls silently and checks what is gone and what stays.
# Usage: silent-install.sh SETUP_EXE BIN_DIR PREFIX_DIR
set -u
setup=$1
bin=$2
export WINEPREFIX=$3
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
