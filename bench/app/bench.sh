#!/usr/bin/env bash
# Times the windowed program on the real main window (offscreen) against a
# private slapd:
#   run:    "Run" of a profile returning 100,000 entries with five attributes,
#           until the rows are shown, against `ldapsearch -x -LLL` of the same
#           search (target: within 2x);
#   browse: "Browse" of a node with 10,000 children (target: under 3 s).
#
#   bench/app/bench.sh [BUILD_DIR]       (default: <repo>/build-app)
#   QUORVEL_BENCH_ENTRIES (default 100000), QUORVEL_BENCH_CHILDREN (default 10000),
#   QUORVEL_BENCH_RUNS (default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-$root/build-app}
entries=${QUORVEL_BENCH_ENTRIES:-100000}
children=${QUORVEL_BENCH_CHILDREN:-10000}
runs=${QUORVEL_BENCH_RUNS:-3}

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_app -j 2 >/dev/null
prog=$build/bench/bench_app
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d)
cleanup() {
  bash "$root/scripts/slapd-harness.sh" stop "$work/run" >/dev/null 2>&1 || true
  bash "$root/scripts/slapd-harness.sh" stop "$work/browse" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/run" "$work/browse"

# the value of key $1 in a "key=value key=value" line on standard input
seconds() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

echo "== run: $entries entries"
/usr/bin/python3 "$root/scripts/gen-bench-ldif.py" -n "$entries" -o "$work/run/bench.ldif"
bash "$root/scripts/slapd-harness.sh" start "$work/run" --ldif "$work/run/bench.ldif" --sizelimit 0 >/dev/null
# shellcheck disable=SC1091
. "$work/run/env"
base="ou=bench,$QUORVEL_LDAP_BASE"
filter="(objectClass=inetOrgPerson)"
best_ls=999999 best_ours=999999
for i in $(seq 1 "$runs"); do
  start=$(date +%s.%N)
  ldapsearch -x -LLL -H "ldap://$QUORVEL_LDAP_HOST:$QUORVEL_LDAP_PORT" -D "$QUORVEL_LDAP_ADMIN_DN" \
    -w "$QUORVEL_LDAP_ADMIN_PW" -b "$base" "$filter" cn sn givenName mail telephoneNumber >/dev/null
  t=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN{print e - s}')
  best_ls=$(awk -v a="$best_ls" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  line=$("$prog" "$build" "$root" "$work/run" run "$base" "$filter" "cn;sn;givenName;mail;telephoneNumber" 2>/dev/null | tail -1)
  t=$(seconds run_seconds <<<"$line")
  best_ours=$(awk -v a="$best_ours" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  echo "run $i: ldapsearch ${best_ls}s best so far; window: $line"
done
awk -v ls="$best_ls" -v ours="$best_ours" 'BEGIN {
  printf "ldapsearch: %.3f s   window (Run to rows shown): %.3f s   ratio %.2f (target <= 2.00)\n",
         ls, ours, ours / ls }'
bash "$root/scripts/slapd-harness.sh" stop "$work/run" >/dev/null

echo "== browse: $children children"
/usr/bin/python3 "$root/scripts/gen-bench-ldif.py" -n "$children" -o "$work/browse/bench.ldif"
bash "$root/scripts/slapd-harness.sh" start "$work/browse" --ldif "$work/browse/bench.ldif" --sizelimit 0 >/dev/null
# shellcheck disable=SC1091
. "$work/browse/env"
best=999999
for i in $(seq 1 "$runs"); do
  line=$("$prog" "$build" "$root" "$work/browse" browse "ou=bench,$QUORVEL_LDAP_BASE" 2>/dev/null | tail -1)
  t=$(seconds browse_seconds <<<"$line")
  best=$(awk -v a="$best" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  echo "browse $i: $line"
done
awk -v b="$best" 'BEGIN { printf "browse of the node: %.3f s (target < 3.00)\n", b }'
