#!/usr/bin/env bash
# A private Kerberos realm and a directory server that requires signing, for
# the tests of StartTLS and Kerberos sign-in.
#
#   tests/common/kerberos-harness.sh start DIR [--ldif FILE] [--sizelimit N]
#   tests/common/kerberos-harness.sh stop DIR
#
# start: makes the realm QUORVEL.TEST in DIR (krb5.conf, kdc.conf, a database
# made with kdb5_util, principals made with kadmin.local: the service
# ldap/localhost with its key in DIR/ldap.keytab, the user tuser with its key
# in DIR/tuser.keytab), runs krb5kdc on a free 127.0.0.1 port, gets a ticket
# for tuser into DIR/ccache with kinit, and starts a private slapd
# (scripts/slapd-harness.sh in DIR/slapd, a small directory of its own or the
# LDIF given, with the size limit given, default 1000) that
#   - refuses simple binds without a protected connection
#     (security simple_bind=56: result 13 in clear, accepted after StartTLS),
#   - signs users in with SASL GSSAPI as ldap/localhost and maps the principal
#     tuser to uid=tuser,ou=people,dc=quorvel,dc=test (authz-regexp).
# Everything is kept in DIR and found through KRB5_CONFIG, KRB5_KDC_PROFILE,
# KRB5_KTNAME and KRB5CCNAME; nothing outside DIR is read or written but the
# programs and the stock schema files.
# It writes DIR/env (shell syntax; tests read it):
#   QUORVEL_KRB_HOST=localhost  QUORVEL_KRB_PORT=... (clear, StartTLS)
#   QUORVEL_KRB_LDAPS_PORT=...  QUORVEL_KRB_BASE=dc=quorvel,dc=test
#   QUORVEL_KRB_USER_DN=...  QUORVEL_KRB_USER_PW=...  (the same user, for simple binds)
#   QUORVEL_KRB_PRINCIPAL=tuser@QUORVEL.TEST
#   QUORVEL_KRB_CONFIG=DIR/krb5.conf  QUORVEL_KRB_CCACHE=DIR/ccache
#   QUORVEL_KRB_CLIENT_KEYTAB=DIR/tuser.keytab  QUORVEL_KRB_CA=DIR/slapd/ca.pem
# stop: stops the slapd and the KDC of DIR (by their pid files).
set -euo pipefail

REALM=QUORVEL.TEST
SUFFIX="dc=quorvel,dc=test"
USER=tuser
USER_DN="uid=$USER,ou=people,$SUFFIX"
USER_PW="tuser-secret"
HERE=$(cd "$(dirname "$0")" && pwd -P)
HARNESS="$HERE/../../scripts/slapd-harness.sh"

die() { echo "kerberos-harness: $*" >&2; exit 1; }

stop_kdc() {
  local dir=$1 pid
  [ -f "$dir/krb5kdc.pid" ] || return 0
  pid=$(cat "$dir/krb5kdc.pid" 2>/dev/null || true)
  rm -f "$dir/krb5kdc.pid"
  [ -n "$pid" ] || return 0
  # Only a KDC started with this directory's configuration is ours to stop.
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "KRB5_KDC_PROFILE=$dir/kdc.conf" ||
    return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || die "usage: $0 start|stop DIR [--ldif FILE] [--sizelimit N]"
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd -P)
ldif=""
sizelimit=1000
while [ $# -gt 0 ]; do
  case "$1" in
    --ldif) ldif=$(realpath "$2"); shift 2 ;;
    --sizelimit) sizelimit=$2; shift 2 ;;
    *) die "unknown option $1" ;;
  esac
done

case "$cmd" in
  stop)
    bash "$HARNESS" stop "$dir/slapd" || true
    stop_kdc "$dir"
    exit 0
    ;;
  start) ;;
  *) die "unknown command $cmd" ;;
esac

for tool in /usr/sbin/krb5kdc /usr/sbin/kdb5_util /usr/sbin/kadmin.local /usr/bin/kinit; do
  [ -x "$tool" ] || die "$tool is missing (bash scripts/install-deps.sh installs it)"
done

bash "$HARNESS" stop "$dir/slapd" || true
stop_kdc "$dir"
rm -rf "$dir/db" "$dir/env" "$dir"/*.keytab "$dir/ccache" "$dir/kdc.log"
mkdir -p "$dir/db"

export KRB5_CONFIG="$dir/krb5.conf"
export KRB5_KDC_PROFILE="$dir/kdc.conf"
export KRB5CCNAME="FILE:$dir/ccache"
# slapd and the tests check no replays against a cache outside DIR.
export KRB5RCACHETYPE=none

# The two configurations for a KDC on port $1.
write_config() {
  cat >"$dir/krb5.conf" <<EOF
[libdefaults]
  default_realm = $REALM
  dns_lookup_kdc = false
  dns_lookup_realm = false
  dns_canonicalize_hostname = false
  rdns = false
  ticket_lifetime = 1h
  udp_preference_limit = 1
[realms]
  $REALM = {
    kdc = 127.0.0.1:$1
  }
[domain_realm]
  localhost = $REALM
EOF
  cat >"$dir/kdc.conf" <<EOF
[kdcdefaults]
  kdc_listen = 127.0.0.1:$1
  kdc_tcp_listen = 127.0.0.1:$1
[realms]
  $REALM = {
    database_name = $dir/db/principal
    key_stash_file = $dir/db/stash
    acl_file = $dir/kadm5.acl
    max_life = 1h
  }
[logging]
  kdc = FILE:$dir/kdc.log
EOF
}
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

write_config "$(free_port)"
: >"$dir/kadm5.acl"

kdb5_util create -s -r "$REALM" -P "quorvel-master-$$" >"$dir/kdb5.log" 2>&1 ||
  { cat "$dir/kdb5.log" >&2; die "kdb5_util could not create the realm"; }
kadmin() { kadmin.local -r "$REALM" -q "$1" >>"$dir/kadmin.log" 2>&1 || { cat "$dir/kadmin.log" >&2; die "kadmin.local: $1"; }; }
kadmin "addprinc -randkey ldap/localhost@$REALM"
kadmin "ktadd -k $dir/ldap.keytab ldap/localhost@$REALM"
kadmin "addprinc -randkey $USER@$REALM"
kadmin "ktadd -k $dir/tuser.keytab $USER@$REALM"

# The KDC, on another free port should the first be taken meanwhile (it
# listens on UDP too); it answers once kinit gets a ticket from it.
got=0
for attempt in 1 2 3; do
  [ "$attempt" = 1 ] || write_config "$(free_port)"
  setsid /usr/sbin/krb5kdc -n -r "$REALM" >"$dir/krb5kdc.out" 2>&1 </dev/null &
  echo $! >"$dir/krb5kdc.pid"
  for _ in $(seq 1 100); do
    if timeout 5 kinit -k -t "$dir/tuser.keytab" "$USER@$REALM" >/dev/null 2>&1; then
      got=1
      break
    fi
    kill -0 "$(cat "$dir/krb5kdc.pid")" 2>/dev/null || break
    sleep 0.1
  done
  [ $got = 1 ] && break
  stop_kdc "$dir"
  echo "kerberos-harness: KDC attempt $attempt failed, retrying" >&2
done
if [ $got != 1 ]; then
  cat "$dir/krb5kdc.out" "$dir/kdc.log" >&2 2>/dev/null || true
  die "the KDC gave no ticket"
fi
kdc_port=$(sed -n 's/^ *kdc = 127.0.0.1:\([0-9]*\)$/\1/p' "$dir/krb5.conf")

# A small directory: the user who signs in and a few people to find.
{
  printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: quorvel\no: Quorvel\n\n' "$SUFFIX"
  printf 'dn: ou=people,%s\nobjectClass: organizationalUnit\nou: people\n\n' "$SUFFIX"
  printf 'dn: %s\nobjectClass: inetOrgPerson\nuid: %s\ncn: Test User\nsn: User\nmail: tuser@quorvel.test\nuserPassword: %s\n\n' \
    "$USER_DN" "$USER" "$USER_PW"
  for i in $(seq -w 0 39); do
    printf 'dn: uid=person%s,ou=people,%s\nobjectClass: inetOrgPerson\nuid: person%s\ncn: Person %s\nsn: Person\nmail: person%s@quorvel.test\n\n' \
      "$i" "$SUFFIX" "$i" "$i" "$i"
  done
} >"$dir/small.ldif"
[ -n "$ldif" ] || ldif="$dir/small.ldif"

cat >"$dir/secure.conf" <<EOF
security simple_bind=56
sasl-host localhost
sasl-realm $REALM
authz-regexp "^uid=([^,]+)(,cn=[^,]+)?,cn=gssapi,cn=auth\$" "uid=\$1,ou=people,$SUFFIX"
EOF

KRB5_KTNAME="FILE:$dir/ldap.keytab" bash "$HARNESS" start "$dir/slapd" --ldif "$ldif" --sizelimit "$sizelimit" \
  --user-dn "$USER_DN" --user-pw "$USER_PW" --global-config "$dir/secure.conf" ||
  { stop_kdc "$dir"; die "slapd did not start"; }
# shellcheck disable=SC1091
. "$dir/slapd/env"

cat >"$dir/env" <<EOF
QUORVEL_KRB_HOST=localhost
QUORVEL_KRB_PORT=$QUORVEL_LDAP_PORT
QUORVEL_KRB_LDAPS_PORT=$QUORVEL_LDAPS_PORT
QUORVEL_KRB_BASE='$SUFFIX'
QUORVEL_KRB_USER_DN='$USER_DN'
QUORVEL_KRB_USER_PW='$USER_PW'
QUORVEL_KRB_PRINCIPAL=$USER@$REALM
QUORVEL_KRB_CONFIG='$dir/krb5.conf'
QUORVEL_KRB_CCACHE='FILE:$dir/ccache'
QUORVEL_KRB_CLIENT_KEYTAB='$dir/tuser.keytab'
QUORVEL_KRB_CA='$dir/slapd/ca.pem'
EOF
echo "kerberos-harness: realm $REALM on 127.0.0.1:$kdc_port, slapd on ldap://localhost:$QUORVEL_LDAP_PORT"
