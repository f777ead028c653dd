# Sourced by the benchmark scripts: a private slapd holding the benchmark
# directory of scripts/gen-bench-ldif.py.
#
#   start_bench_directory DIR N [--ad]
#                                 generates N people (with --ad each also holds
#                                 a domain account's SID, GUID and times),
#                                 starts slapd in DIR (no size
#                                 limit), loads DIR/env and sets bench_base,
#                                 bench_filter, bench_attrs (array) and
#                                 bench_att (the profile's ";" list; with --ad
#                                 the domain values too) and
#                                 bench_ldapsearch (array: ldapsearch -x -LLL of
#                                 the benchmark search, as the admin)
#   stop_bench_directory DIR      stops the server of DIR (quietly)
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

start_bench_directory() {
  local dir=$1 n=$2 ad=${3:-}
  mkdir -p "$dir"
  /usr/bin/python3 "$bench_root/scripts/gen-bench-ldif.py" -n "$n" -o "$dir/bench.ldif" $ad
  bash "$bench_root/scripts/slapd-harness.sh" start "$dir" --ldif "$dir/bench.ldif" \
    --sizelimit 0 >/dev/null
  # shellcheck disable=SC1091
  . "$dir/env"
  bench_base="ou=bench,$QUORVEL_LDAP_BASE"
  bench_filter="(objectClass=inetOrgPerson)"
  bench_attrs=(cn sn givenName mail telephoneNumber)
  if [ "$ad" = --ad ]; then
    bench_attrs+=(objectSid objectGUID whenCreated pwdLastSet lastLogonTimestamp accountExpires)
  fi
  bench_att=$(IFS=';'; echo "${bench_attrs[*]}")
  bench_ldapsearch=(ldapsearch -x -LLL -H "ldap://$QUORVEL_LDAP_HOST:$QUORVEL_LDAP_PORT"
    -D "$QUORVEL_LDAP_ADMIN_DN" -w "$QUORVEL_LDAP_ADMIN_PW" -b "$bench_base" "$bench_filter"
    "${bench_attrs[@]}")
}

stop_bench_directory() {
  bash "$bench_root/scripts/slapd-harness.sh" stop "$1" >/dev/null 2>&1 || true
}

