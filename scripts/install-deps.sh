#!/usr/bin/env bash
# Installs every Debian package Varilume needs to build, run and test.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  libudev-dev
  librtmidi-dev jackd2
  libola-dev ola ola-python
  libjack-jackd2-dev
  libxlsxwriter-dev libminizip-dev zlib1g-dev libdeflate-dev
  libssl3 ca-certificates
  libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-openpyxl
  xvfb xauth imagemagick x11-utils
  fonts-dejavu-core fonts-liberation fonts-wqy-microhei
  time
  desktop-file-utils appstream dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
