#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs every test:
# the normal build with the whole suite, the unit and directory tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# every fuzz target. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

jobs=$(nproc)
passed=0
# Runs ctest with the given arguments and adds its count of passed tests.
run_ctest() {
  local log
  log=$(mktemp)
  if ! ctest "$@" 2>&1 | tee "$log"; then rm -f "$log"; exit 1; fi
  local n
  n=$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  passed=$((passed + ${n:-0}))
  rm -f "$log"
}

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== tests"
run_ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

if [ "${QUORVEL_SKIP_SANITIZE:-0}" != "1" ]; then
  echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON \
    -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$jobs"
  echo "== tests under sanitizers"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900
fi

if [ "${QUORVEL_SKIP_FUZZ:-0}" != "1" ] && [ -x scripts/fuzz.sh ]; then
  echo "== fuzz targets (short run)"
  QUORVEL_FUZZ_SECONDS=${QUORVEL_FUZZ_SECONDS:-20} bash scripts/fuzz.sh
fi
echo "== all tests passed"
echo "$passed passed, 0 failed"
