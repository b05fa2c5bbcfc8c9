#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs dependencies, builds and runs every test: the plain build, then
# the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, a
# short run of each fuzz target, a Release tree (the build type a packager
# or a user building by hand picks first) with the core tests, and the
# package build with its checks (scripts/check_package.sh).
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
  "$here/fuzz/run.sh" "${TORVIK_FUZZ_SECONDS:-10}"
fi

echo "== build (Release) =="
cmake -S "$here" -B "$here/build-release" -DCMAKE_BUILD_TYPE=Release -DTORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-release" -j"$jobs"
# The tests on the virtual clock; those over real pseudo-terminals on the
# wall clock (EndToEnd, Faults) ran in the first stage already.
echo "== core tests (Release) =="
"$here/build-release/torvik_tests" --gtest_brief=1 --gtest_filter='-EndToEnd.*:Faults*'

echo "== package =="
"$here/scripts/package.sh" "$here/build-package"
echo "== package checks =="
"$here/scripts/check_package.sh" "$here/build-package"
echo "== all tests passed =="
