#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what building, running and testing need on Debian 12, only the
# packages that are missing. Uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk fonts-dejavu-core
  fonts-liberation2
  xvfb xauth
  clang libclang-rt-14-dev
  dpkg-dev file
  lintian desktop-file-utils appstream devscripts man-db
  libudev-dev umockdev libumockdev-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
