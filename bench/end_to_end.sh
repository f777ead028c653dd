#!/usr/bin/env bash
# End-to-end benchmark of the headless report runner: a private directory of N
# people (default 100,000), then, in one run, `quorvel-report --format csv`
# against `ldapsearch -x -LLL` of the same search writing to /dev/null. Prints
# both wall times, their ratio, both peak memory figures and the LDIF size of
# the result. Targets: ratio at most 1.5; peak memory under 3x the LDIF size.
#
#   bench/end_to_end.sh [-n N] [--build DIR] [--repeat R]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
n=100000
build="$root/build"
repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
    -n) n=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    *) echo "usage: bench/end_to_end.sh [-n N] [--build DIR] [--repeat R]" >&2; exit 1 ;;
  esac
done

[ -x "$build/quorvel-report" ] || { echo "no $build/quorvel-report: build the project first" >&2; exit 1; }
# shellcheck source=bench-directory.sh
. "$root/bench/bench-directory.sh"
work=$(mktemp -d /tmp/quorvel-e2e.XXXXXX)
cleanup() {
  stop_bench_directory "$work/slapd"
  rm -rf "$work"
}
trap cleanup EXIT

echo "== directory of $n people"
start_bench_directory "$work/slapd" "$n"
cp "$build/lib/quorvel.db" "$work/catalogue.db"
sqlite3 "$work/catalogue.db" "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES \
  ('Bench','127.0.0.1',$QUORVEL_LDAP_PORT,'N','$QUORVEL_LDAP_ADMIN_DN','$QUORVEL_LDAP_ADMIN_PW','$QUORVEL_LDAP_BASE'); \
  INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES \
  ('bench',1,'$bench_base',2,'$bench_att','$bench_filter');"

ldif_size=$("${bench_ldapsearch[@]}" | wc -c)

# Runs a command under /usr/bin/time -v; prints "seconds kilobytes".
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; return 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { split($2, t, ":"); s = 0; for (i = 1; i in t; i++) s = s * 60 + t[i] }
              /Maximum resident set size/ { kb = $2 } END { printf "%.3f %d\n", s, kb }' "$work/time.txt"
}

best() { sort -n | head -1; }
ours_t=(); ours_m=(); ref_t=(); ref_m=()
for i in $(seq "$repeat"); do
  read -r t m < <(measure "${bench_ldapsearch[@]}")
  ref_t+=("$t"); ref_m+=("$m")
  read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
    --profile bench --format csv --output "$work/report.csv")
  ours_t+=("$t"); ours_m+=("$m")
done
rt=$(printf '%s\n' "${ref_t[@]}" | best); ot=$(printf '%s\n' "${ours_t[@]}" | best)
rm_=$(printf '%s\n' "${ref_m[@]}" | best); om=$(printf '%s\n' "${ours_m[@]}" | best)
rows=$(($(wc -l < "$work/report.csv") - 1))

echo "entries in the report:      $rows"
echo "LDIF size of the result:    $ldif_size bytes"
echo "ldapsearch -x -LLL:         ${rt} s, peak ${rm_} KiB"
echo "quorvel-report --format csv: ${ot} s, peak ${om} KiB"
awk -v o="$ot" -v r="$rt" -v m="$om" -v l="$ldif_size" 'BEGIN {
  ratio = (r > 0) ? o / r : 0; mem = m * 1024 / l;
  printf "wall-time ratio:            %.2f (target at most 1.5)\n", ratio;
  printf "peak memory / LDIF size:    %.2f (target under 3)\n", mem }'
