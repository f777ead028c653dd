#!/usr/bin/env bash
# Times the windowed program on the real main window (offscreen) against a
# private slapd:
#   run:    "Run" of a profile returning 100,000 entries with five attributes,
#           until the rows are shown, against `ldapsearch -x -LLL` of the same
#           search (target: within 2x);
#   browse: "Browse" of a node with 10,000 children (target: under 3 s).
#
#   bench/app/bench.sh [BUILD_DIR]       (default: <repo>/build)
#   QUORVEL_BENCH_ENTRIES (default 100000), QUORVEL_BENCH_CHILDREN (default 10000),
#   QUORVEL_BENCH_RUNS (default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-$root/build}
entries=${QUORVEL_BENCH_ENTRIES:-100000}
children=${QUORVEL_BENCH_CHILDREN:-10000}
runs=${QUORVEL_BENCH_RUNS:-3}

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_app -j 2 >/dev/null
prog=$build/bench/bench_app
export QT_QPA_PLATFORM=offscreen

# shellcheck source=../bench-directory.sh
. "$root/bench/bench-directory.sh"
work=$(mktemp -d)
cleanup() {
  stop_bench_directory "$work/run"
  stop_bench_directory "$work/browse"
  rm -rf "$work"
}
trap cleanup EXIT

# the value of key $1 in a "key=value key=value" line on standard input
seconds() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

echo "== run: $entries entries"
start_bench_directory "$work/run" "$entries"
best_ls=999999 best_ours=999999
for i in $(seq 1 "$runs"); do
  start=$(date +%s.%N)
  "${bench_ldapsearch[@]}" >/dev/null
  t=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN{print e - s}')
  best_ls=$(awk -v a="$best_ls" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  line=$("$prog" "$build" "$root" "$work/run" run "$bench_base" "$bench_filter" "$bench_att" 2>/dev/null | tail -1)
  t=$(seconds run_seconds <<<"$line")
  best_ours=$(awk -v a="$best_ours" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  echo "run $i: ldapsearch ${best_ls}s best so far; window: $line"
done
awk -v ls="$best_ls" -v ours="$best_ours" 'BEGIN {
  printf "ldapsearch: %.3f s   window (Run to rows shown): %.3f s   ratio %.2f (target <= 2.00)\n",
         ls, ours, ours / ls }'
stop_bench_directory "$work/run"

echo "== browse: $children children"
start_bench_directory "$work/browse" "$children"
best=999999
for i in $(seq 1 "$runs"); do
  line=$("$prog" "$build" "$root" "$work/browse" browse "$bench_base" 2>/dev/null | tail -1)
  t=$(seconds browse_seconds <<<"$line")
  best=$(awk -v a="$best" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  echo "browse $i: $line"
done
awk -v b="$best" 'BEGIN { printf "browse of the node: %.3f s (target < 3.00)\n", b }'
