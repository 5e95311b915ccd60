#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libssl-dev zlib1g-dev libexpat1-dev libcurl4-openssl-dev
          libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-svg-dev fonts-ipafont-gothic
          googletest g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis
          librsvg2-bin imagemagick squid openssl ccache dosfstools mtools e2fsprogs nginx python3 dpkg-dev
          desktop-file-utils libudev-dev libumockdev-dev umockdev libglib2.0-dev udisks2 udev dbus rsync clang-format-14
          polkitd fdisk util-linux lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
