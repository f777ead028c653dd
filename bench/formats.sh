#!/usr/bin/env bash
# Benchmark of the report formats that keep every value exactly: a private
# directory of N people (default 100,000), then, in one run, quorvel-report
# writing the same profile as CSV, as LDIF records (ldif2849) and as JSON
# Lines (jsonl), the three alternating R times. Prints each format's median
# wall time and peak memory and its ratio to CSV's (target: at most 1.1).
#
# With --against DIR, quorvel-report of another build (DIR/quorvel-report,
# for instance one made before the exact values were kept beside the rows)
# writes the CSV too, alternating with this build's: the ratio of the two
# medians is what keeping the values costs (target: at most 1.10).
#
#   bench/formats.sh [-n N] [--build DIR] [--repeat R] [--against DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
n=100000
build="$root/build"
repeat=3
against=""
while [ $# -gt 0 ]; do
  case "$1" in
    -n) n=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --against) against=$2; shift 2 ;;
    *) echo "usage: bench/formats.sh [-n N] [--build DIR] [--repeat R] [--against DIR]" >&2; exit 1 ;;
  esac
done
[ -x "$build/quorvel-report" ] || { echo "no $build/quorvel-report: build the project first" >&2; exit 1; }
[ -z "$against" ] || [ -x "$against/quorvel-report" ] || { echo "no $against/quorvel-report" >&2; exit 1; }

# shellcheck source=bench-directory.sh
. "$root/bench/bench-directory.sh"
work=$(mktemp -d /tmp/quorvel-formats.XXXXXX)
cleanup() {
  stop_bench_directory "$work/slapd"
  rm -rf "$work"
}
trap cleanup EXIT

echo "== directory of $n people"
start_bench_directory "$work/slapd" "$n"
catalogue() {
  cp "$1/lib/quorvel.db" "$2"
  sqlite3 "$2" "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES \
    ('Bench','127.0.0.1',$QUORVEL_LDAP_PORT,'N','$QUORVEL_LDAP_ADMIN_DN','$QUORVEL_LDAP_ADMIN_PW','$QUORVEL_LDAP_BASE'); \
    INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES \
    ('bench',1,'$bench_base',2,'$bench_att','$bench_filter');"
  # An older catalogue keeps passwords where it always did; a newer one is told so.
  sqlite3 "$2" "UPDATE servers SET secret='catalogue'" 2>/dev/null || true
}
catalogue "$build" "$work/catalogue.db"
[ -z "$against" ] || catalogue "$against" "$work/against.db"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; return 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { split($2, t, ":"); s = 0; for (i = 1; i in t; i++) s = s * 60 + t[i] }
              /Maximum resident set size/ { kb = $2 } END { printf "%.3f %d\n", s, kb }' "$work/time.txt"
}

formats=(csv ldif2849 jsonl)
declare -A times mems
for i in $(seq "$repeat"); do
  for f in "${formats[@]}"; do
    read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
      --profile bench --format "$f" --output "$work/report.$f")
    times[$f]+="$t "; mems[$f]+="$m "
  done
  if [ -n "$against" ]; then
    read -r t m < <(measure "$against/quorvel-report" --catalogue "$work/against.db" \
      --profile bench --format csv --output "$work/against.csv")
    times[against]+="$t "; mems[against]+="$m "
  fi
done

rows=$(($(wc -l < "$work/report.csv") - 1))
[ "$rows" = "$n" ] || echo "WARNING: the report holds $rows entries, not $n" >&2
echo "entries in the report:        $rows"
csv=$(printf '%s\n' ${times[csv]} | median)
for f in "${formats[@]}"; do
  t=$(printf '%s\n' ${times[$f]} | median); m=$(printf '%s\n' ${mems[$f]} | median)
  size=$(wc -c < "$work/report.$f")
  awk -v f="$f" -v t="$t" -v m="$m" -v c="$csv" -v s="$size" 'BEGIN {
    printf "--format %-9s %7.3f s, peak %6d KiB, %10d bytes, ratio to csv %.3f%s\n", f, t, m, s,
      (c > 0) ? t / c : 0, (f == "csv") ? "" : " (target at most 1.1)" }'
done
if [ -n "$against" ]; then
  t=$(printf '%s\n' ${times[against]} | median)
  awk -v t="$t" -v c="$csv" 'BEGIN {
    printf "csv of --against build:      %7.3f s; this build / that build %.3f (target at most 1.10)\n",
      t, (t > 0) ? c / t : 0 }'
fi
