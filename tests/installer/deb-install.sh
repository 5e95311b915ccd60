#!/usr/bin/env bash
# The Debian package: lintian finds no error or warning in it; it installs with dpkg -i (its
# dependencies must already be met, as on the machine that built it), runs the demo's automatic
# session with the installed program for a user of its own, as root and as a user who is not
# (nobody, through runuser), and is removed leaving none of its files behind.
# Usage: tests/installer/deb-install.sh PACKAGE.deb
set -euo pipefail
cd "$(dirname "$0")/../.."
deb=$(realpath "$1")
as_root=""
[ "$(id -u)" -ne 0 ] && as_root="sudo"
fail() { echo "deb-install: $*" >&2; exit 1; }

# Errors and warnings fail; what lintian only notes (I:, P:) is left.
if command -v lintian >/dev/null; then
    findings=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep -E '^[EW]: ' || true)
    [ -z "$findings" ] || fail "lintian: $findings"
else
    echo "deb-install: lintian is missing (scripts/install-deps.sh installs it); not checked" >&2
fi

$as_root dpkg -i "$deb"
trap '$as_root dpkg -r veltrane >/dev/null 2>&1 || true' EXIT
desktop-file-validate /usr/share/applications/veltrane.desktop
[ "$(stat -c %a /usr/libexec/veltrane/veltrane)" = 755 ] || fail "the program is not executable"
find /usr/libexec/veltrane /usr/bin/veltrane -perm /6000 | grep . && fail "a file is setuid or setgid"

demo=$PWD/build/package-demo
VELTRANE_DEMO=$demo bash scripts/demo.sh --auto --size 8 --installed
# The session ran the installed program, from the user's own program folder.
cmp /usr/libexec/veltrane/veltrane "$demo/data/veltrane/program/veltrane" || fail "the user's copy is not the installed program"
grep -q . "$demo/data/veltrane/program/veltrane.log" || fail "no log in the user's program folder"
[ -f /usr/share/polkit-1/rules.d/60-veltrane.rules ] || fail "the polkit rule for the unit is not installed"

# A desktop user is not root: the same session as nobody, in a world of that user's own.
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null; then
    demo=$PWD/build/package-demo-user
    VELTRANE_DEMO=$demo bash scripts/demo.sh --auto --size 8 --installed --as nobody
    [ "$(stat -c %U "$demo/data/veltrane/program/veltrane")" = nobody ] || fail "the user's copy is not the user's"
else
    echo "deb-install: the session as a user who is not root needs root and runuser; not run" >&2
fi

$as_root dpkg -r veltrane
trap - EXIT
for path in /usr/bin/veltrane /usr/libexec/veltrane /usr/share/applications/veltrane.desktop \
            /usr/share/icons/hicolor/scalable/apps/veltrane.svg /usr/share/polkit-1/rules.d/60-veltrane.rules \
            /usr/share/doc/veltrane; do
    [ ! -e "$path" ] || fail "$path is left after the removal"
done
# Removed, not purged: without maintainer scripts nothing is left in dpkg's "rc" state either.
! dpkg-query -W -f='${Status}' veltrane 2>/dev/null | grep -q "config-files" || fail "the package left config-files state"
echo "deb-install: lintian-clean, installed, ran the session as root and as nobody, removed"
