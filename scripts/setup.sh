#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root, or with sudo).
set -euo pipefail
packages=(
  cmake make g++ pkg-config clang
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libx11-dev libxi-dev
  xvfb xauth xdotool x11-utils
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  binutils-m68k-linux-gnu
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
