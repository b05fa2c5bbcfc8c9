#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs atspi_tree.py against torvik-config under a session bus of its own
# (dbus-run-session: the accessibility bus is started on it and ends with
# it) and a virtual display of 1920x1080 (xvfb-run). The run-time and cache
# directories are a temporary one, removed on every way out.
#
#   run_atspi_tree.sh PATH/TO/torvik-config [--on-screen]
set -u
here=$(cd "$(dirname "$0")" && pwd)
config=$1
shift

for tool in dbus-run-session xvfb-run; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is not installed (Debian packages dbus-bin, xvfb and xauth)" >&2
        exit 1
    fi
done
if ! /usr/bin/python3 -c "import pyatspi" 2>/dev/null; then
    echo "pyatspi is not installed (Debian package python3-pyatspi)" >&2
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/torvik-atspi.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
chmod 700 "$dir"

screen=1920x1080
# On the virtual X display, whatever platform the other tests run on.
QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$dir" XDG_CACHE_HOME="$dir/cache" HOME="$dir" TORVIK_SCREEN="$screen" \
    dbus-run-session -- xvfb-run -a -s "-screen 0 ${screen}x24" \
    /usr/bin/python3 "$here/atspi_tree.py" "$config" "$@"
