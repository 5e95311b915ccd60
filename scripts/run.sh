#!/usr/bin/env bash
# Installs what is missing, builds and starts the program in a demo folder of its own, with
# logging on, and shows what it logged.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
demo="${VELTRANE_DEMO:-$PWD/build/demo}"
mkdir -p "$demo/machine"
printf '[debugger]\r\nDebugMode=Yes\r\nLogFile=veltrane.log\r\nDeleteOnStart=Yes\r\n' > "$demo/debugger.ini"
cd "$demo"
VELTRANE_MACHINE="$demo/machine" "$OLDPWD/build/default/bin/veltrane" 2>/dev/null || true
iconv -f CP932 -t UTF-8 veltrane.log
