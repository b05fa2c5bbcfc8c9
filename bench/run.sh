#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks (RelWithDebInfo, in build-bench unless BUILD_DIR is
# set) and runs them all; prints one table per benchmark. About a minute.
#
#   bench/run.sh            # N=200 exchanges, 5 s live reading, 4 silent ports
#   N=500 bench/run.sh      # more exchanges
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build-bench}"
n="${N:-200}"
reading_s="${READING_S:-5}"
silent_ports="${SILENT_PORTS:-4}"
startup_runs="${STARTUP_RUNS:-7}"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target torvik-sim bench_link bench_model bench_startup minimal_window torvik-config \
  >/dev/null

echo "# torvik-config benchmarks"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "kernel $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"

"$build/bench/bench_link" "$build/torvik-sim" "$n"
"$build/bench/bench_model" "$build/torvik-sim" "$reading_s" "$silent_ports"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_startup" "$build/torvik-config" "$build/bench/minimal_window" \
  "$startup_runs"
