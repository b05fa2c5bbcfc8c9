#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what building and running need (the run set of scripts/deps.sh),
# builds, and starts torvik-config on the simulated reader (a
# pseudo-terminal mapped to COM1, throw-away settings).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh" run
build="$here/build"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_TESTS=OFF -DTORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target torvik-config torvik-sim
exec "$build/torvik-config" --simulate "$@"
