#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Soak run: a live reading, scans and failing commands against two simulated
# readers, one of them with line noise before every reply (--fault noise),
# for MINUTES minutes (default 10). Reports resident memory and open
# descriptors at the start and at the end; exits non-zero when descriptors
# grew or a step did not end as it should.
#
#   scripts/soak.sh        # 10 minutes
#   scripts/soak.sh 2
set -euo pipefail
minutes="${1:-10}"
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build-bench}"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target torvik-sim torvik_soak >/dev/null
exec "$build/bench/torvik_soak" "$build/torvik-sim" "$minutes"
