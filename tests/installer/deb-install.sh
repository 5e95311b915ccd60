#!/usr/bin/env bash
# The Debian package: installs with dpkg -i (its dependencies must already be met, as on the
# machine that built it), runs the demo's automatic session with the installed program for a
# user of its own, and is removed leaving none of its files behind.
# Usage: tests/installer/deb-install.sh PACKAGE.deb
set -euo pipefail
cd "$(dirname "$0")/../.."
deb=$(realpath "$1")
as_root=""
[ "$(id -u)" -ne 0 ] && as_root="sudo"
fail() { echo "deb-install: $*" >&2; exit 1; }

$as_root dpkg -i "$deb"
trap '$as_root dpkg -r veltrane >/dev/null 2>&1 || true' EXIT
desktop-file-validate /usr/share/applications/veltrane.desktop
[ "$(stat -c %a /usr/lib/veltrane/veltrane)" = 755 ] || fail "the program is not executable"
find /usr/lib/veltrane /usr/bin/veltrane -perm /6000 | grep . && fail "a file is setuid or setgid"

demo=$PWD/build/package-demo
VELTRANE_DEMO=$demo bash scripts/demo.sh --auto --size 8 --installed
# The session ran the installed program, from the user's own program folder.
cmp /usr/lib/veltrane/veltrane "$demo/data/veltrane/program/veltrane" || fail "the user's copy is not the installed program"
grep -q . "$demo/data/veltrane/program/veltrane.log" || fail "no log in the user's program folder"

$as_root dpkg -r veltrane
trap - EXIT
for path in /usr/bin/veltrane /usr/lib/veltrane /usr/share/applications/veltrane.desktop \
            /usr/share/icons/hicolor/scalable/apps/veltrane.svg; do
    [ ! -e "$path" ] || fail "$path is left after the removal"
done
echo "deb-install: installed, ran the session, removed"
