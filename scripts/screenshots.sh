#!/bin/sh
# SPDX-License-Identifier: MIT
# Pictures of the main window for the documentation: English after a scan
# of the simulated reader, both Chinese languages, and a live reading with
# a card. Saves docs/window-en.png, window-zh-hans.png, window-zh-hant.png
# and window-reading.png.
#
#   scripts/screenshots.sh [build-dir]     (default: build-ui)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-ui"}
out="$root/docs"

if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v xauth >/dev/null 2>&1; then
    echo "screenshots: installing xvfb and xauth" >&2
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
    $sudo_cmd apt-get install -y xvfb xauth
fi

if [ ! -x "$build/torvik-config" ] || [ ! -x "$build/torvik-sim" ]; then
    cmake -S "$root" -B "$build" -DTORVIK_BUILD_BENCH=OFF
fi
cmake --build "$build" -j2 --target torvik-config torvik-sim

mkdir -p "$out"
# The settings of the throw-away store live in a temporary directory, so
# the pictures never depend on what an earlier run stored.
timeout 90 xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/torvik-config" --simulate --screenshot-dir "$out" --screenshot-script
ls -l "$out"/window-*.png
