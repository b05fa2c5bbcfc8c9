#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages that are missing from one of two sets:
#   ./scripts/deps.sh run     building and running the tool (scripts/run.sh)
#   ./scripts/deps.sh test    that, and the tests, fuzzing, benchmarks and
#                             the package checks (scripts/test.sh); the default
#   ./scripts/deps.sh SET --list   prints the set, one package a line
# Uses sudo when not root. apt never asks: DEBIAN_FRONTEND is handed to
# apt-get through sudo's command line, since sudo drops it from the
# environment it passes on.
set -euo pipefail

# Building torvik-config, torvik-sim and torvikctl, and showing the window.
# One package a line.
run_packages=(
  g++
  make
  cmake
  pkg-config
  qt6-base-dev
  qt6-base-private-dev  # the window's Wayland surface (maximize refused)
  qt6-wayland         # the window on a Wayland desktop
  libasound2-dev
  libudev-dev
  fonts-liberation2   # the layout face of the window
  fonts-noto-cjk      # the Chinese captions
  fonts-dejavu-core
)

# What the tests, fuzzing, benchmarks and packaging add. One package a line.
test_packages=(
  build-essential
  git
  libgtest-dev
  xvfb                # the window tests and screenshots under a virtual display
  xauth
  weston              # the window under a Wayland compositor (headless)
  python3-pyatspi     # the accessibility tree as a screen reader reads it
  at-spi2-core
  dbus-bin            # dbus-run-session for the accessibility bus
  clang               # fuzzing: libFuzzer with ASan + UBSan
  libclang-rt-14-dev
  umockdev            # the port listing against a mock udev
  ansible-core        # the collection's modules and example playbooks
  python3-pytest      # the collection's module tests
  libumockdev-dev
  dpkg-dev            # the Debian package and its checks
  lintian
  desktop-file-utils
  appstream
  devscripts
  man-db
)

usage() {
  echo "usage: deps.sh [run|test] [--list]" >&2
  exit 64
}

set_name=test
list=0
for arg in "$@"; do
  case "$arg" in
    run | test) set_name="$arg" ;;
    --list) list=1 ;;
    *) usage ;;
  esac
done

packages=("${run_packages[@]}")
if [ "$set_name" = test ]; then
  packages+=("${test_packages[@]}")
fi

if [ "$list" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

# As root apt-get runs directly; otherwise through sudo, which keeps only
# what its command line sets. A configuration file changed on this machine
# is kept without a question.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o Dpkg::Options::=--force-confdef
  -o Dpkg::Options::=--force-confold)
if [ "$(id -u)" -ne 0 ]; then
  apt=(sudo "${apt[@]}")
fi
echo "Installing (the $set_name set): ${missing[*]}"
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
