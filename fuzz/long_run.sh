#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The long fuzz run: every target until it has run RUNS inputs (10 million)
# or for MINUTES (30), whichever comes first, JOBS targets at a time (the
# number of cores). Builds through run.sh first (objects are reused), then
# prints a table row per target for fuzz/README.md:
#
#   fuzz/long_run.sh [TARGET...]
#   RUNS=1000000 MINUTES=5 JOBS=1 fuzz/long_run.sh fuzz_json
#
# Not part of the test command, which runs the short smoke run of run.sh.
# Corpora grow in build-fuzz/corpus-long/<target>/ and are kept for the next
# long run; logs go to build-fuzz/logs/<target>.long.log.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$ROOT/build-fuzz
RUNS=${RUNS:-10000000}
MINUTES=${MINUTES:-30}
JOBS=${JOBS:-$(nproc)}

# Build every target asked for (a zero-second run only builds and checks
# that each starts).
"$ROOT/fuzz/run.sh" 1 "$@" >/dev/null
if (( $# > 0 )); then
  targets=("$@")
else
  mapfile -t targets < <(sed -n '/^ALL_TARGETS=(/,/)/p' "$ROOT/fuzz/run.sh" |
    tr ' ()' '\n\n\n' | grep '^fuzz_')
fi

one() {
  local t=$1 corpus=$OUT/corpus-long/$1 log=$OUT/logs/$1.long.log dict=()
  mkdir -p "$corpus"
  cp -rn "$ROOT/fuzz/corpus/$t/." "$corpus/" 2>/dev/null || true
  [[ -f $ROOT/fuzz/dict/$t.dict ]] && dict=(-dict="$ROOT/fuzz/dict/$t.dict")
  local started=$SECONDS result=ok
  "$OUT/$t" -runs="$RUNS" -max_total_time=$((MINUTES * 60)) -print_final_stats=1 -timeout=20 \
    -artifact_prefix="$OUT/artifacts/$t-" "${dict[@]}" "$corpus" >"$log" 2>&1 || result=CRASH
  local execs
  execs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -1)
  printf '| `%s` | %s | %d min %02d s | %s |\n' "$t" "${execs:-?}" \
    $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)) "$result"
}

echo "| target | executions | time | result |"
echo "|---|---:|---:|---|"
running=0
for t in "${targets[@]}"; do
  one "$t" &
  running=$((running + 1))
  if (( running >= JOBS )); then
    wait -n
    running=$((running - 1))
  fi
done
wait
