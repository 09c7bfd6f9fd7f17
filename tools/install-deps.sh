#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian machine (run as root, or with sudo
# available). Idempotent: packages already present are left alone, so a second run is quick.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake ninja-build g++ make pkg-config git
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  clang-format-14  # tools/check-conventions.sh calls this exact version
  mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64
  libpng-dev
  xvfb xauth x11-apps imagemagick
  fonts-wine fonts-liberation
  findutils python3
  faketime
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  missing+=(wine32:i386)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
