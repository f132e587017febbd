#!/bin/sh
# Installs what building, running and testing need on a Debian machine (run as root).
set -eu
packages="cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev
  xvfb xauth binutils clang libclang-rt-14-dev g++-mingw-w64-x86-64 minicom imagemagick
  fonts-dejavu-core"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
