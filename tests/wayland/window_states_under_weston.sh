#!/bin/sh
# SPDX-License-Identifier: MIT
# The window under a Wayland compositor (weston's headless backend, with a
# runtime directory of its own): started natively on the simulated reader,
# asked for the maximized and the full-screen state, it must stay alive at
# its one size. weston and the temporary directory go on every way out.
#
#   window_states_under_weston.sh PATH/TO/torvik-config
set -u
config=$1

if ! command -v weston >/dev/null 2>&1; then
    echo "weston is not installed (Debian package weston)" >&2
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/torvik-weston.XXXXXX") || exit 1
weston_pid=""
cleanup() {
    if [ -n "$weston_pid" ]; then
        kill "$weston_pid" 2>/dev/null
        wait "$weston_pid" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

chmod 700 "$dir"
socket="torvik-test-$$"
XDG_RUNTIME_DIR="$dir" weston --backend=headless-backend.so --socket="$socket" \
    --width=1024 --height=768 --idle-time=0 >"$dir/weston.log" 2>&1 &
weston_pid=$!
# The socket appears once weston is ready; a weston that ends instead fails
# the test.
while [ ! -S "$dir/$socket" ]; do
    if ! kill -0 "$weston_pid" 2>/dev/null; then
        echo "weston did not start:" >&2
        cat "$dir/weston.log" >&2
        exit 1
    fi
    sleep 0.1
done

# Natively on Wayland (no X11 display to fall back to); Qt's caches and the
# throw-away settings stay in the scratch directory.
env -u DISPLAY XDG_RUNTIME_DIR="$dir" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
    XDG_CACHE_HOME="$dir/cache" HOME="$dir" \
    "$config" --simulate --request-window-states >"$dir/out" 2>&1
status=$?
cat "$dir/out"
if grep -q "Protocol error\|protocol error" "$dir/out"; then
    echo "FAIL: the compositor ended the connection" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "FAIL: torvik-config ended with status $status" >&2
    exit 1
fi
for state in maximized fullscreen; do
    if ! grep -q "^window-size after $state 621x579 plain$" "$dir/out"; then
        echo "FAIL: after the $state request the window did not keep 621x579" >&2
        exit 1
    fi
done
echo "window kept its size under weston"
