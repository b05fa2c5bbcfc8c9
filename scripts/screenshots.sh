#!/bin/sh
# SPDX-License-Identifier: MIT
# Pictures of the main window for the documentation: English after a scan
# of the simulated reader, both Chinese languages, and a live reading with
# a card; the window at 200 % on a 1920x1080 screen, and in its
# high-contrast look. Saves docs/window-en.png, window-zh-hans.png,
# window-zh-hant.png, window-reading.png, window-200-percent.png and
# window-high-contrast.png.
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

# The same sequence at the desktop scale of 200 % on 1920x1080 (where the
# layout is drawn smaller to fit) and in the high-contrast look; only their
# first picture is kept.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/torvik-shots.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
QT_SCALE_FACTOR=2 timeout 90 xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/torvik-config" --simulate --screenshot-dir "$tmp/scaled" --screenshot-script
cp "$tmp/scaled/window-en.png" "$out/window-200-percent.png"
timeout 90 xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/torvik-config" --simulate --high-contrast --screenshot-dir "$tmp/contrast" \
    --screenshot-script
cp "$tmp/contrast/window-en.png" "$out/window-high-contrast.png"
ls -l "$out"/window-*.png
