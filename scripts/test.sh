#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs dependencies (the test set of scripts/deps.sh), builds and runs
# every test: the plain build, then the same suite under AddressSanitizer +
# UndefinedBehaviorSanitizer, a short run of each fuzz target, a Release
# tree (the build type a packager or a user building by hand picks first)
# with the core tests, and the package build with its checks
# (scripts/check_package.sh).
#
# Every step runs under a time limit: past it the step gets SIGTERM, and
# SIGKILL 30 s later, with everything it started, and the script fails
# naming the step (ctest names a test that ran past its own limit, the
# core-test stage the test that was running). The temporary files of all
# steps go to one directory, removed however the script ends.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

tmp="$(mktemp -d "${TMPDIR:-/tmp}/torvik-test-run.XXXXXX")"
export TMPDIR="$tmp"
running=""
stop() {
  if [ -n "$running" ]; then
    kill -TERM "$running" 2>/dev/null || true
    wait "$running" 2>/dev/null || true
  fi
  exit 130
}
trap 'rm -rf "$tmp"' EXIT
trap stop INT TERM HUP

# limited [--foreground] LIMIT COMMAND...: runs COMMAND under `timeout`,
# which gives it a process group of its own so that its children are ended
# with it. It runs as a background job waited for, so that Ctrl+C reaches
# this script (and stop() ends the step) while the step runs. With
# --foreground COMMAND stays in this script's process group, where it may
# read the terminal (sudo asking for the password) and Ctrl+C reaches it;
# past the limit only COMMAND itself is ended.
limited() {
  local foreground=() limit status=0
  if [ "$1" = --foreground ]; then
    foreground=(--foreground)
    shift
  fi
  limit="$1"
  shift
  timeout "${foreground[@]}" --kill-after=30s "$limit" "$@" &
  running=$!
  wait "$running" || status=$?
  running=""
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "test.sh: no end within $limit, stopped: $*" >&2
  fi
  return "$status"
}

# The gtest program $1 with the arguments after it, its output kept in a
# log: on success only the summary is printed, on failure what went wrong
# (without the lines of the tests that passed), and when it ran past the
# limit also the test that was running then.
core_tests() {
  local log="$tmp/core-tests.log" status=0 hung
  limited 20m "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    grep -E '^\[(==========|  PASSED  |  SKIPPED )\]' "$log"
    return 0
  fi
  grep -vE '^\[ (RUN      |      OK )\]|^Running main\(\)' "$log" >&2 || true
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    hung="$(awk '/^\[ RUN      \]/ { t = $4 } /^\[ +(OK|FAILED|SKIPPED) +\]/ { t = "" }
      END { print t }' "$log")"
    echo "test.sh: the core tests ran past their limit in ${hung:-(between tests)}" >&2
  fi
  return "$status"
}

echo "== set-up script (deps.sh with stand-ins for apt-get and sudo) =="
limited 5m "$here/scripts/test_deps.sh"
echo "== dependencies (the test set) =="
limited --foreground 60m "$here/scripts/deps.sh" test

echo "== build (RelWithDebInfo) =="
limited 10m cmake -S "$here" -B "$here/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVIK_BUILD_BENCH=ON >/dev/null
limited 60m cmake --build "$here/build-test" -j"$jobs"
echo "== tests =="
limited 45m ctest --test-dir "$here/build-test" --output-on-failure -j"$jobs"

echo "== build (ASan + UBSan) =="
limited 10m cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTORVIK_SANITIZE=ON \
  -DTORVIK_BUILD_BENCH=OFF >/dev/null
limited 60m cmake --build "$here/build-asan" -j"$jobs"
echo "== tests under sanitizers =="
limited 45m ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs"

if [ -x "$here/fuzz/run.sh" ]; then
  echo "== fuzz smoke =="
  limited 30m "$here/fuzz/run.sh" "${TORVIK_FUZZ_SECONDS:-10}"
fi

echo "== build (Release) =="
limited 10m cmake -S "$here" -B "$here/build-release" -DCMAKE_BUILD_TYPE=Release \
  -DTORVIK_BUILD_BENCH=OFF >/dev/null
limited 60m cmake --build "$here/build-release" -j"$jobs"
# The tests on the virtual clock; those over real pseudo-terminals on the
# wall clock (EndToEnd, Faults) ran in the first stage already. Run straight,
# not through ctest (which starts every test with the stop signals at their
# defaults), and with SIGHUP, SIGINT and SIGTERM ignored, as a runner under
# nohup or in the background hands them down: no test may depend on them.
echo "== core tests (Release, stop signals ignored) =="
core_tests env --ignore-signal=HUP --ignore-signal=INT --ignore-signal=TERM \
  "$here/build-release/torvik_tests" --gtest_filter='-EndToEnd.*:Faults*'

echo "== package =="
limited 30m "$here/scripts/package.sh" "$here/build-package"
echo "== package checks =="
limited 60m "$here/scripts/check_package.sh" "$here/build-package"
echo "== all tests passed =="
