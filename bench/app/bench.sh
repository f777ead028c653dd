#!/usr/bin/env bash
# Times the windowed program on the real main window (offscreen) against a
# private slapd:
#   run:    "Run" of a profile returning 100,000 entries with five attributes,
#           until the rows are shown, against `ldapsearch -x -LLL` of the same
#           search, alternating (target: median within 1.5x, 1.0x for a
#           million entries or more);
#   browse: "Browse" of a node with 10,000 children (target: under 3 s);
#   memory: with QUORVEL_BENCH_MEMORY=N (N above 100,000, e.g. 1000000), the
#           window's peak memory for "Run" of 100,000 of N people (uid b0000001
#           to b0100000) and of all N, from one directory, alternating
#           QUORVEL_BENCH_MEMORY_RUNS times, their medians and the ratio of the
#           medians (target: at most 2). Each run's peak is also printed.
#
#   bench/app/bench.sh [BUILD_DIR]       (default: <repo>/build)
#   QUORVEL_BENCH_ENTRIES (default 100000), QUORVEL_BENCH_CHILDREN (default 10000),
#   QUORVEL_BENCH_RUNS (default 7), QUORVEL_BENCH_MEMORY (default 0: not measured),
#   QUORVEL_BENCH_MEMORY_RUNS (default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-$root/build}
entries=${QUORVEL_BENCH_ENTRIES:-100000}
children=${QUORVEL_BENCH_CHILDREN:-10000}
runs=${QUORVEL_BENCH_RUNS:-7}
memory=${QUORVEL_BENCH_MEMORY:-0}
memory_runs=${QUORVEL_BENCH_MEMORY_RUNS:-3}

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
  stop_bench_directory "$work/memory"
  rm -rf "$work"
}
trap cleanup EXIT

# the value of key $1 in a "key=value key=value" line on standard input
seconds() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

echo "== run: $entries entries"
start_bench_directory "$work/run" "$entries"
# The two alternate, so that both meet the same load; medians are compared.
: >"$work/ls.times"
: >"$work/ours.times"
for i in $(seq 1 "$runs"); do
  start=$(date +%s.%N)
  "${bench_ldapsearch[@]}" >/dev/null
  t=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN{print e - s}')
  echo "$t" >>"$work/ls.times"
  line=$(/usr/bin/time -f %M -o "$work/peak" "$prog" "$build" "$root" "$work/run" run \
    "$bench_base" "$bench_filter" "$bench_att" 2>/dev/null | tail -1)
  seconds run_seconds <<<"$line" >>"$work/ours.times"
  printf 'run %d: ldapsearch %.3f s; window: %s peak_kib=%s\n' "$i" "$t" "$line" "$(cat "$work/peak")"
done
# best and median of a column of numbers
stats() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print v[1], m }'; }
read -r best_ls median_ls < <(stats "$work/ls.times")
read -r best_ours median_ours < <(stats "$work/ours.times")
run_target=1.50
[ "$entries" -lt 1000000 ] || run_target=1.00
awk -v bl="$best_ls" -v ml="$median_ls" -v bo="$best_ours" -v mo="$median_ours" -v t="$run_target" 'BEGIN {
  printf "ldapsearch: median %.3f s, best %.3f s\n", ml, bl
  printf "window (Run to rows shown): median %.3f s, best %.3f s\n", mo, bo
  printf "ratio of the medians %.2f (target <= %s), of the best %.2f\n", mo / ml, t, bo / bl }'
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

if [ "$memory" -gt 100000 ]; then
  echo "== memory: 100,000 of $memory entries against all of them"
  start_bench_directory "$work/memory" "$memory"
  # the window's peak resident memory in KiB for "Run" of the filter $1
  peak() {
    /usr/bin/time -f %M -o "$work/peak" "$prog" "$build" "$root" "$work/memory" run \
      "$bench_base" "$1" "$bench_att" >"$work/line" 2>/dev/null
    echo "$(cat "$work/peak") $(tail -1 "$work/line")"
  }
  : >"$work/subset.peaks"
  : >"$work/full.peaks"
  for i in $(seq 1 "$memory_runs"); do
    read -r subset subset_line < <(peak "(&$bench_filter(|(uid=b00*)(uid=b0100000)))")
    read -r full full_line < <(peak "$bench_filter")
    echo "$subset" >>"$work/subset.peaks"
    echo "$full" >>"$work/full.peaks"
    echo "memory $i: 100,000 entries: peak $subset KiB ($subset_line)"
    echo "memory $i: $memory entries: peak $full KiB ($full_line)"
  done
  read -r _ subset < <(stats "$work/subset.peaks")
  read -r _ full < <(stats "$work/full.peaks")
  echo "100,000 entries: median peak $subset KiB"
  echo "$memory entries: median peak $full KiB"
  awk -v f="$full" -v s="$subset" 'BEGIN {
    printf "peak memory ratio %.2f (target <= 2.00)\n", (s > 0) ? f / s : 0 }'
fi
