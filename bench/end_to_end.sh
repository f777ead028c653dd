#!/usr/bin/env bash
# End-to-end benchmark of the headless report runner: a private directory of N
# people (default 100,000), then, in one run, `quorvel-report --format csv`
# against `ldapsearch -x -LLL` of the same search writing to /dev/null, the two
# alternating R times. Prints the median wall times, their ratio, the median
# peak memory figures and the LDIF size of the result. Targets: ratio at most
# 1.5 (1.0 for a million people, 1.1 with --capped); peak memory under 3x the
# LDIF size.
#
# With N above 100,000 the runner also reports a subset of exactly 100,000 of
# the same people (uid b0000001 to b0100000, same directory, same search
# otherwise): its median peak memory beside the full run's, and their ratio
# (target: the full run's peak at most 1.25x the subset's, 1.1x for a million,
# memory that does not grow with the result).
#
# --capped binds both as the harness's capped identity (a plain search stops at
# 1000 entries with result 4, a paged search gets everything): quorvel-report
# then reads the rest in pages, and the reference is
# `ldapsearch -E pr=1000/noprompt`.
#
# --readable gives every person a domain account's values as well (SID, GUID,
# whenCreated and three 100-ns times, all in the profile) and compares
# `quorvel-report --values readable` with `--values raw` over the same
# entries, alternating. Target: readable at most 5% slower (ratio 1.05).
#
# --changes compares `quorvel-report --changes` (the run compared with the
# profile's snapshot, then kept as the snapshot) with a plain report (which
# keeps its run as the snapshot too) and with a plain report that keeps none
# (history.db beside its catalogue is a folder, so the snapshot cannot be
# made), alternating, with their peak memory. Target: --changes at most 25%
# slower than the plain report (ratio 1.25), memory that stays flat.
#
# --kerberos signs both in with Kerberos on a clear connection, sealed (a
# private realm and slapd of tests/common/kerberos-harness.sh holding the same
# directory): the reference is `ldapsearch -Y GSSAPI`, which seals too; the
# target ratio is then at most 1.0.
#
#   bench/end_to_end.sh [-n N] [--build DIR] [--repeat R] [--capped | --readable | --kerberos | --changes]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
n=100000
build="$root/build"
repeat=3
capped=0
readable=0
kerberos=0
changes=0
while [ $# -gt 0 ]; do
  case "$1" in
    -n) n=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --capped) capped=1; shift ;;
    --readable) readable=1; shift ;;
    --kerberos) kerberos=1; shift ;;
    --changes) changes=1; shift ;;
    *) echo "usage: bench/end_to_end.sh [-n N] [--build DIR] [--repeat R] [--capped | --readable | --kerberos | --changes]" >&2; exit 1 ;;
  esac
done

[ -x "$build/quorvel-report" ] || { echo "no $build/quorvel-report: build the project first" >&2; exit 1; }
# shellcheck source=bench-directory.sh
. "$root/bench/bench-directory.sh"
work=$(mktemp -d /tmp/quorvel-e2e.XXXXXX)
cleanup() {
  stop_bench_directory "$work/slapd"
  [ "$kerberos" = 0 ] || bash "$root/tests/common/kerberos-harness.sh" stop "$work/krb" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== directory of $n people"
if [ "$readable" = 1 ]; then
  start_bench_directory "$work/slapd" "$n" --ad
else
  start_bench_directory "$work/slapd" "$n"
fi
bind_dn=$QUORVEL_LDAP_ADMIN_DN bind_pw=$QUORVEL_LDAP_ADMIN_PW
reference=("${bench_ldapsearch[@]}")
reference_name="ldapsearch -x -LLL"
if [ "$capped" = 1 ]; then
  bind_dn=$QUORVEL_LDAP_CAPPED_DN bind_pw=$QUORVEL_LDAP_CAPPED_PW
  reference=(ldapsearch -x -LLL -E pr=1000/noprompt -H "ldap://$QUORVEL_LDAP_HOST:$QUORVEL_LDAP_PORT"
    -D "$bind_dn" -w "$bind_pw" -b "$bench_base" "$bench_filter" "${bench_attrs[@]}")
  reference_name="ldapsearch -E pr=1000"
fi
host=127.0.0.1 port=$QUORVEL_LDAP_PORT auth=simple target=1.5
if [ "$kerberos" = 1 ]; then
  # The same directory behind a realm of its own; both clients seal.
  stop_bench_directory "$work/slapd"
  bash "$root/tests/common/kerberos-harness.sh" start "$work/krb" --ldif "$work/slapd/bench.ldif" \
    --sizelimit unlimited >/dev/null
  # shellcheck disable=SC1091
  . "$work/krb/env"
  export KRB5_CONFIG=$QUORVEL_KRB_CONFIG KRB5CCNAME=$QUORVEL_KRB_CCACHE KRB5RCACHETYPE=none
  host=$QUORVEL_KRB_HOST port=$QUORVEL_KRB_PORT auth=kerberos bind_dn="" bind_pw="" target=1.0
  reference=(ldapsearch -N -Q -Y GSSAPI -LLL -H "ldap://$host:$port" -b "$bench_base"
    "$bench_filter" "${bench_attrs[@]}")
  reference_name="ldapsearch -Y GSSAPI"
fi
cp "$build/lib/quorvel.db" "$work/catalogue.db"
sqlite3 "$work/catalogue.db" "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn,auth) VALUES \
  ('Bench','$host',$port,'N','$bind_dn','$bind_pw','$QUORVEL_LDAP_BASE','$auth'); \
  INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES \
  ('bench',1,'$bench_base',2,'$bench_att','$bench_filter');"
subset=0
if [ "$n" -gt 100000 ]; then
  subset=1
  subset_filter="(&$bench_filter(|(uid=b00*)(uid=b0100000)))"
  sqlite3 "$work/catalogue.db" "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) \
    VALUES ('subset',1,'$bench_base',2,'$bench_att','$subset_filter');"
fi

ldif_size=$("${reference[@]}" | wc -c)

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command under /usr/bin/time -v; prints "seconds kilobytes".
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; return 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { split($2, t, ":"); s = 0; for (i = 1; i in t; i++) s = s * 60 + t[i] }
              /Maximum resident set size/ { kb = $2 } END { printf "%.3f %d\n", s, kb }' "$work/time.txt"
}

if [ "$readable" = 1 ]; then
  raw_t=(); read_t=(); read_m=()
  for i in $(seq "$repeat"); do
    read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
      --profile bench --format csv --output "$work/raw.csv" --values raw)
    raw_t+=("$t")
    read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
      --profile bench --format csv --output "$work/readable.csv" --values readable)
    read_t+=("$t"); read_m+=("$m")
  done
  wt=$(printf '%s\n' "${raw_t[@]}" | median); rt=$(printf '%s\n' "${read_t[@]}" | median)
  rm_=$(printf '%s\n' "${read_m[@]}" | median)
  rows=$(($(wc -l < "$work/readable.csv") - 1))
  [ "$rows" = "$n" ] || echo "WARNING: the report holds $rows entries, not $n" >&2
  echo "entries in the report:      $rows"
  echo "LDIF size of the result:    $ldif_size bytes"
  echo "sample row (readable):      $(sed -n 2p "$work/readable.csv")"
  echo "--values raw:               ${wt} s"
  echo "--values readable:          ${rt} s, peak ${rm_} KiB"
  awk -v r="$rt" -v w="$wt" 'BEGIN { printf "readable/raw ratio (median): %.3f (target at most 1.05)\n", (w > 0) ? r / w : 0 }'
  exit 0
fi

if [ "$changes" = 1 ]; then
  mkdir -p "$work/nohistory/history.db"
  cp "$work/catalogue.db" "$work/nohistory/catalogue.db"
  report() { measure "$build/quorvel-report" --catalogue "$1" --profile bench --format csv --output "$2" "${@:3}"; }
  # The first snapshot, so that every --changes run below compares.
  report "$work/catalogue.db" "$work/plain.csv" >/dev/null
  none_t=(); none_m=(); plain_t=(); plain_m=(); ch_t=(); ch_m=()
  for i in $(seq "$repeat"); do
    read -r t m < <(report "$work/nohistory/catalogue.db" "$work/none.csv")
    none_t+=("$t"); none_m+=("$m")
    read -r t m < <(report "$work/catalogue.db" "$work/plain.csv")
    plain_t+=("$t"); plain_m+=("$m")
    # Status 0: nothing changed since the plain run's snapshot.
    read -r t m < <(report "$work/catalogue.db" "$work/changes.csv" --changes)
    ch_t+=("$t"); ch_m+=("$m")
  done
  nt=$(printf '%s\n' "${none_t[@]}" | median); pt=$(printf '%s\n' "${plain_t[@]}" | median)
  ct=$(printf '%s\n' "${ch_t[@]}" | median)
  nm=$(printf '%s\n' "${none_m[@]}" | median); pm=$(printf '%s\n' "${plain_m[@]}" | median)
  cm=$(printf '%s\n' "${ch_m[@]}" | median)
  rows=$(($(wc -l < "$work/plain.csv") - 1))
  [ "$rows" = "$n" ] || echo "WARNING: the report holds $rows entries, not $n" >&2
  [ "$(wc -l < "$work/changes.csv")" = 1 ] || echo "WARNING: the change report lists changes" >&2
  echo "entries in the report:      $rows"
  echo "plain, no snapshot kept:    ${nt} s, peak ${nm} KiB"
  echo "plain, snapshot kept:       ${pt} s, peak ${pm} KiB"
  echo "--changes:                  ${ct} s, peak ${cm} KiB"
  awk -v c="$ct" -v p="$pt" -v q="$nt" -v cm="$cm" -v pm="$pm" 'BEGIN {
    printf "--changes/plain ratio (median): %.3f (target at most 1.25)\n", (p > 0) ? c / p : 0;
    printf "plain with/without snapshot:    %.3f\n", (q > 0) ? p / q : 0;
    printf "peak memory, --changes/plain:   %.2f\n", (pm > 0) ? cm / pm : 0 }'
  exit 0
fi

ours_t=(); ours_m=(); ref_t=(); ref_m=(); sub_m=()
for i in $(seq "$repeat"); do
  if [ "$subset" = 1 ]; then
    read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
      --profile subset --format csv --output "$work/subset.csv")
    sub_m+=("$m")
  fi
  read -r t m < <(measure "${reference[@]}")
  ref_t+=("$t"); ref_m+=("$m")
  read -r t m < <(measure "$build/quorvel-report" --catalogue "$work/catalogue.db" \
    --profile bench --format csv --output "$work/report.csv")
  ours_t+=("$t"); ours_m+=("$m")
done
rt=$(printf '%s\n' "${ref_t[@]}" | median); ot=$(printf '%s\n' "${ours_t[@]}" | median)
rm_=$(printf '%s\n' "${ref_m[@]}" | median); om=$(printf '%s\n' "${ours_m[@]}" | median)
rows=$(($(wc -l < "$work/report.csv") - 1))
[ "$rows" = "$n" ] || echo "WARNING: the report holds $rows entries, not $n" >&2

echo "entries in the report:      $rows"
echo "LDIF size of the result:    $ldif_size bytes"
printf '%-28s%s\n' "$reference_name:" "${rt} s, peak ${rm_} KiB"
echo "quorvel-report --format csv: ${ot} s, peak ${om} KiB"
if [ "$auth" != kerberos ]; then
  if [ "$capped" = 1 ]; then target=1.1; elif [ "$n" -ge 1000000 ]; then target=1.0; fi
fi
awk -v o="$ot" -v r="$rt" -v m="$om" -v l="$ldif_size" -v t="$target" 'BEGIN {
  ratio = (r > 0) ? o / r : 0; mem = m * 1024 / l;
  printf "wall-time ratio (median):   %.2f (target at most %s)\n", ratio, t;
  printf "peak memory / LDIF size:    %.2f (target under 3)\n", mem }'
if [ "$subset" = 1 ]; then
  sm=$(printf '%s\n' "${sub_m[@]}" | median)
  srows=$(($(wc -l < "$work/subset.csv") - 1))
  [ "$srows" = 100000 ] || echo "WARNING: the subset report holds $srows entries, not 100000" >&2
  echo "subset of 100,000 people:   peak ${sm} KiB"
  peak_target=1.25
  [ "$n" -lt 1000000 ] || peak_target=1.1
  awk -v m="$om" -v s="$sm" -v n="$n" -v t="$peak_target" 'BEGIN {
    printf "peak memory, %d / 100,000: %.2f (target at most %s)\n", n, (s > 0) ? m / s : 0, t }'
fi
