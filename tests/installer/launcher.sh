#!/bin/bash
# The Linux launcher run as root refuses a program folder another user owns, before it copies
# anything into it or runs anything from it. Needs root (exit 77: skipped).
# Usage: tests/installer/launcher.sh LAUNCHER
set -eu
launcher=$1
[ "$(id -u)" = 0 ] || { echo "launcher: not root, skipped"; exit 77; }
fail() { echo "launcher: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# A user's data folder holding a planted program.
mkdir -p "$work/user/veltrane/program"
printf '#!/bin/sh\necho planted\n' >"$work/user/veltrane/program/veltrane"
chmod +x "$work/user/veltrane/program/veltrane"
chown -R nobody "$work/user"
if out=$(XDG_DATA_HOME=$work/user sh "$launcher" 2>&1); then fail "ran from a folder another user owns: $out"; fi
case $out in *planted*) fail "ran the planted program" ;; esac
case $out in *"belongs to another user"*) ;; *) fail "no refusal: $out" ;; esac

# Root's own folder passes the check (the copy then fails here: nothing is installed).
mkdir -p "$work/root"
out=$(XDG_DATA_HOME=$work/root sh "$launcher" 2>&1) || true
case $out in *"belongs to another user"*) fail "refused root's own folder: $out" ;; esac
[ -d "$work/root/veltrane/program" ] || fail "root's folder was not made"
echo "launcher: refused another user's folder, took root's own"
