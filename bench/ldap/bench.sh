#!/usr/bin/env bash
# Times one search of 100,000 entries with five attributes from a private slapd:
# our client (connect, bind, search, every entry in the result model) against
# `ldapsearch -x -LLL` of the same search writing to /dev/null. Prints both wall
# times, their ratio, the peak memory of both, and the memory our result model
# takes (peak RSS less the RSS once connected and bound) against the size of
# the LDIF that ldapsearch prints for the result.
#
#   bench/ldap/bench.sh [BUILD_DIR]      (default: <repo>/build)
#   QUORVEL_BENCH_ENTRIES (default 100000), QUORVEL_BENCH_RUNS (default 7)
#
# Targets: our time within 1.2x of ldapsearch; model memory under 2x the LDIF.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-$root/build}
entries=${QUORVEL_BENCH_ENTRIES:-100000}
runs=${QUORVEL_BENCH_RUNS:-7}

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_ldap_search -j 2 >/dev/null
prog=$build/bench/bench_ldap_search

# shellcheck source=../bench-directory.sh
. "$root/bench/bench-directory.sh"
work=$(mktemp -d)
cleanup() {
  stop_bench_directory "$work"
  rm -rf "$work"
}
trap cleanup EXIT

echo "== loading $entries entries into a private slapd"
start_bench_directory "$work" "$entries"
ldapsearch_cmd=("${bench_ldapsearch[@]}")
ours_cmd=("$prog" "$QUORVEL_LDAP_HOST" "$QUORVEL_LDAP_PORT" "$QUORVEL_LDAP_ADMIN_DN"
  "$QUORVEL_LDAP_ADMIN_PW" "$bench_base" "$bench_filter" "$bench_att")

"${ldapsearch_cmd[@]}" >"$work/result.ldif"
ldif_bytes=$(stat -c %s "$work/result.ldif")
echo "LDIF of the result: $ldif_bytes bytes ($(grep -c '^dn:' "$work/result.ldif") entries)"

# wall seconds and peak KiB of one run, from /usr/bin/time -v
measure() {
  /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>/dev/null
  local wall peak
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt" |
    awk -F: '{ if (NF==3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  echo "$wall $peak"
}

# Alternate the two programs so that both meet the same load on the machine.
: >"$work/ls.times"
: >"$work/ours.times"
peak_ls=0 peak_ours=0 model_kib=0
for i in $(seq 1 "$runs"); do
  read -r t p < <(measure "${ldapsearch_cmd[@]}")
  echo "$t" >>"$work/ls.times"
  peak_ls=$p
  read -r t p < <(measure "${ours_cmd[@]}")
  echo "$t" >>"$work/ours.times"
  peak_ours=$p
  line=$(cat "$work/out.txt")
  before=$(sed -n 's/.*rss_bound_kib=\([0-9]*\).*/\1/p' <<<"$line")
  after=$(sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p' <<<"$line")
  model_kib=$((after - before))
  echo "run $i: ldapsearch $(tail -n 1 "$work/ls.times") s, ours $t s ($line)"
done
# best and median of a column of numbers
stats() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print v[1], m }'; }
read -r best_ls median_ls < <(stats "$work/ls.times")
read -r best_ours median_ours < <(stats "$work/ours.times")

awk -v bls="$best_ls" -v mls="$median_ls" -v bours="$best_ours" -v mours="$median_ours" \
  -v pls="$peak_ls" -v pours="$peak_ours" -v model="$model_kib" -v ldif="$ldif_bytes" 'BEGIN {
  printf "ldapsearch wall: best %.3f s, median %.3f s   peak RSS: %d KiB\n", bls, mls, pls
  printf "ours wall:       best %.3f s, median %.3f s   peak RSS: %d KiB\n", bours, mours, pours
  printf "time ratio (ours / ldapsearch): median %.2f, best %.2f   (target <= 1.20)\n", mours / mls, bours / bls
  printf "result-model memory: %d KiB = %.2fx the LDIF size (target < 2.00)\n", model, model * 1024 / ldif
}'
