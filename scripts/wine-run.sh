#!/usr/bin/env bash
# Runs a Windows program under wine64 in the build's own prefix (the first argument), created on
# first use with the null graphics driver, so no display is needed and no user prefix is touched.
#   wine-run.sh PREFIX [--screen DPI] [--drive LETTER IMAGE] PROGRAM [ARGUMENTS...]
# Wine takes the system code page from the locale (LC_ALL=ja_JP.UTF-8 gives 932) and the
# character set of Unix file names from it too: a locale the machine lacks is compiled into the
# build once (LOCPATH), so Japanese file names keep working.
# --screen gives the prefix a screen of DPI dots per inch (its LogPixels) and maps the Windows
# fonts to IPA Gothic (tests/gui/wine-fonts.reg), so text is measured as a Japanese Windows
# would show it; both are set on every run, so what an earlier run left in the prefix does not
# count. Runs that share such a prefix must not overlap.
# --drive gives the prefix a drive LETTER whose raw device ("\\.\LETTER:") is IMAGE, a fresh
# 64 KiB image file, as Wine maps a drive's device link (dosdevices/x::) to a block device.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
shift
screen=""
if [ "${1:-}" = --screen ]; then
  screen=$2
  shift 2
fi
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
wine=/usr/lib/wine/wine64
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.veltrane-prefix-2" ]; then
    # No Mono or Gecko: the program needs neither, and their installers would ask.
    WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= "$wine" wineboot -i >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # No debugger for a crash: the program ends with its exception and the test fails, where
    # winedbg would wait and hold the run.
    "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    touch "$prefix/.veltrane-prefix-2"
  fi
  if [ -n "${LC_ALL:-}" ] && [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    locales=$(dirname "$prefix")/locales
    mkdir -p "$locales"
    [ -d "$locales/$LC_ALL" ] || localedef -i "${LC_ALL%%.*}" -f UTF-8 "$locales/$LC_ALL" 2>/dev/null || true
  fi
  if [ -n "$screen" ]; then
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$screen" /f >/dev/null 2>&1
    "$wine" regedit "$here/../tests/gui/wine-fonts.reg" >/dev/null 2>&1
  fi
  if [ "${1:-}" = --drive ]; then
    letter=$(echo "$2" | tr 'A-Z' 'a-z')
    image=$3
    mkdir -p "$(dirname "$image")/files"
    rm -f "$image"
    truncate -s 64K "$image"
    ln -sfn "$(dirname "$image")/files" "$prefix/dosdevices/$letter:"
    ln -sfn "$image" "$prefix/dosdevices/$letter::"
  fi
) 9>"$prefix.lock"
if [ -n "${LC_ALL:-}" ] && [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LOCPATH=$(dirname "$prefix")/locales
fi
[ "${1:-}" = --drive ] && shift 3
exec "$wine" "$@"
