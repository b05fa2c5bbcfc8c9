#!/usr/bin/env bash
# Installs dependencies, builds and runs every test: the plain build, then
# the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, then a
# short run of each fuzz target and the package build.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== build (RelWithDebInfo) =="
cmake -S "$here" -B "$here/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIK_BUILD_BENCH=ON >/dev/null
cmake --build "$here/build-test" -j"$jobs"
echo "== tests =="
(cd "$here/build-test" && ctest --output-on-failure -j"$jobs")

echo "== build (ASan + UBSan) =="
cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTORVIK_SANITIZE=ON -DTORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
echo "== tests under sanitizers =="
(cd "$here/build-asan" && ctest --output-on-failure -j"$jobs")

if [ -x "$here/fuzz/run.sh" ]; then
  echo "== fuzz smoke =="
  "$here/fuzz/run.sh" "${TORVIK_FUZZ_SECONDS:-30}"
fi

if [ -x "$here/scripts/package.sh" ]; then
  echo "== package =="
  "$here/scripts/package.sh" "$here/build-test"
fi
echo "== all tests passed =="
