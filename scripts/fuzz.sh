#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehavior
# Sanitizer) and runs each for a bounded time on its seed corpus, failing on any
# crash, leak or sanitizer report.
#
#   QUORVEL_FUZZ_BUILD    build directory (default: <repo>/build-fuzz)
#   QUORVEL_FUZZ_SECONDS  seconds per target (default: 20)
#
# New inputs found during a run go to a temporary folder; the seed corpora in
# fuzz/corpus/<target>/ are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${QUORVEL_FUZZ_BUILD:-$root/build-fuzz}
seconds=${QUORVEL_FUZZ_SECONDS:-20}
targets=(fuzz_ber fuzz_response fuzz_filter fuzz_paging fuzz_values fuzz_schema)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_FUZZ=ON -DQUORVEL_GUI=OFF -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  seeds=$root/fuzz/corpus/${t#fuzz_}
  mkdir -p "$work/$t"
  echo "== $t (${seconds}s)"
  if ! "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/$t-" \
      "$work/$t" "$seeds" >"$work/$t.log" 2>&1; then
    echo "$t FAILED:"
    tail -n 60 "$work/$t.log"
    for a in "$work/$t"-*; do
      [ -f "$a" ] && { mkdir -p "$build/artifacts"; cp "$a" "$build/artifacts/"; echo "kept $build/artifacts/$(basename "$a")"; }
    done
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$work/$t.log" | tail -n 2 || true
  fi
done
exit $status
