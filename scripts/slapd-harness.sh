#!/usr/bin/env bash
# A private directory server for tests, benchmarks and the demo.
#
#   scripts/slapd-harness.sh start DIR [--ldif FILE] [--sizelimit N]
#                                      [--user-dn DN --user-pw PW]
#                                      [--global-config FILE] [--no-tls]
#   scripts/slapd-harness.sh stop DIR
#
# start: builds a private configuration in DIR (mdb database, suffix
# dc=quorvel,dc=test, rootdn cn=admin,dc=quorvel,dc=test), a private
# certificate authority (DIR/ca.pem) and a server certificate it signed
# (CN=quorvel-test-server, for IP 127.0.0.1 and DNS localhost), loads the LDIF
# with slapadd (the stock schemas and scripts/ad-values.schema), and runs
# /usr/sbin/slapd on 127.0.0.1 with two free high ports: one in clear (StartTLS
# accepted) and one LDAPS. The size limit (default 1000) binds every user except
# the rootdn. Two more identities live in a small database of their own
# (o=identities, so the test directory's entries stay as they are): one capped
# like directories that give plain searches at most 1000 entries yet a paged
# search everything (size.soft/hard 1000, size.prtotal unlimited), and one whose
# paged searches are capped too (size.prtotal 1000). --global-config adds the
# lines of FILE to the configuration's global section (security rules, SASL
# settings). --no-tls makes a server without TLS: no LDAPS port, and StartTLS
# refused (as from a directory that was never given a certificate). A server
# already running for DIR is stopped first.
# It writes DIR/env (shell syntax; also read by tests/common/slapd_env.h):
#   QUORVEL_LDAP_HOST=127.0.0.1  QUORVEL_LDAP_PORT=...  QUORVEL_LDAPS_PORT=...
#   QUORVEL_LDAP_BASE=dc=quorvel,dc=test
#   QUORVEL_LDAP_ADMIN_DN=cn=admin,dc=quorvel,dc=test  QUORVEL_LDAP_ADMIN_PW=...
#   QUORVEL_LDAP_USER_DN=...  QUORVEL_LDAP_USER_PW=...   (a normal user)
#   QUORVEL_LDAP_CAPPED_DN=... QUORVEL_LDAP_CAPPED_PW=... (plain 1000, paged all)
#   QUORVEL_LDAP_TOTALCAP_DN=... QUORVEL_LDAP_TOTALCAP_PW=... (paged 1000 too)
#   QUORVEL_LDAP_CERT=DIR/cert.pem  QUORVEL_LDAP_CA=DIR/ca.pem
# A client verifies the server with SSL_CERT_FILE=DIR/ca.pem; without it the
# certificate is one its system does not know (as most internal directories').
# and DIR/slapd.pid; it returns once the server answers on both ports (or fails
# after about 15 s, printing the server's log).
# stop: kills the server of DIR by its pid and waits for it to end.
#
# It never touches the system's own slapd instance or /etc/ldap (only reads
# the stock schema files).
set -euo pipefail

SUFFIX="dc=quorvel,dc=test"
ADMIN_DN="cn=admin,$SUFFIX"
ADMIN_PW="quorvel-admin"
# The normal user of the generated test directory (scripts/gen-test-ldif.py).
USER_DN="uid=tuser,ou=people,$SUFFIX"
USER_PW="tuser-secret"
IDS="o=identities"
CAPPED_DN="uid=capped,$IDS"
CAPPED_PW="capped-secret"
TOTALCAP_DN="uid=totalcap,$IDS"
TOTALCAP_PW="totalcap-secret"
SLAPD=/usr/sbin/slapd
SLAPADD=/usr/sbin/slapadd
PY=/usr/bin/python3
# The folder of this script, where the test schema lives.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)

die() { echo "slapd-harness: $*" >&2; exit 1; }

# Waits (bounded) for the process in pid file $1 to end; kills it harder late.
stop_dir() {
  local dir=$1 pid
  [ -f "$dir/slapd.pid" ] || return 0
  pid=$(cat "$dir/slapd.pid" 2>/dev/null || true)
  rm -f "$dir/slapd.pid"
  [ -n "$pid" ] || return 0
  # Only a slapd started with this directory's configuration is ours to stop.
  if ! tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$dir/slapd.conf"; then
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

free_ports() {
  "$PY" - <<'EOF'
import socket
socks = []
for _ in range(2):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
for s in socks:
    s.close()
EOF
}

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || die "usage: $0 start|stop DIR [--ldif FILE] [--sizelimit N]"
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd -P)

case "$cmd" in
  stop)
    stop_dir "$dir"
    exit 0
    ;;
  start) ;;
  *) die "unknown command $cmd" ;;
esac

ldif=""
global_config=""
tls=1
sizelimit=1000
while [ $# -gt 0 ]; do
  case "$1" in
    --ldif) ldif=$(realpath "$2"); shift 2 ;;
    --sizelimit) sizelimit=$2; shift 2 ;;
    --user-dn) USER_DN=$2; shift 2 ;;
    --user-pw) USER_PW=$2; shift 2 ;;
    --global-config) global_config=$(realpath "$2"); shift 2 ;;
    --no-tls) tls=0; shift ;;
    *) die "unknown option $1" ;;
  esac
done
[ -z "$ldif" ] || [ -f "$ldif" ] || die "no such LDIF file: $ldif"

stop_dir "$dir"
rm -rf "$dir/db" "$dir/db-ids" "$dir/env" "$dir/slapd.log"
mkdir -p "$dir/db" "$dir/db-ids"

if [ ! -s "$dir/ca.pem" ] || [ ! -s "$dir/cert.pem" ] || [ ! -s "$dir/key.pem" ]; then
  (
    cd "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
      -subj "/O=Quorvel Test/CN=Quorvel Test CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
      -keyout ca.key -out ca.pem &&
      openssl req -new -newkey rsa:2048 -nodes \
        -subj "/C=XX/O=Quorvel Test/CN=quorvel-test-server" -keyout key.pem -out server.csr &&
      printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext &&
      openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
        -extfile server.ext -out cert.pem &&
      rm -f server.csr server.ext
  ) >/dev/null 2>&1 || die "openssl could not make the certificates"
  chmod 600 "$dir/key.pem" "$dir/ca.key"
fi

cat >"$dir/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
include /etc/ldap/schema/nis.schema
include $here/ad-values.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
$( [ $tls = 0 ] || printf 'TLSCertificateFile %s/cert.pem\nTLSCertificateKeyFile %s/key.pem\n' "$dir" "$dir" )
sizelimit $sizelimit
timelimit 3600
loglevel none
$( [ -z "$global_config" ] || cat "$global_config" )

database mdb
suffix "$SUFFIX"
rootdn "$ADMIN_DN"
rootpw $ADMIN_PW
directory $dir/db
maxsize 4294967296
index objectClass eq
index uid,cn,sn,mail eq
access to attrs=userPassword by self write by anonymous auth by * none
access to * by * read
limits dn.exact="$CAPPED_DN" size.soft=1000 size.hard=1000 size.prtotal=unlimited
limits dn.exact="$TOTALCAP_DN" size.soft=1000 size.hard=1000 size.prtotal=1000

database mdb
suffix "$IDS"
directory $dir/db-ids
maxsize 16777216
access to attrs=userPassword by anonymous auth by * none
access to * by * read
EOF
identity() {  # uid password
  printf 'dn: uid=%s,%s\nobjectClass: account\nobjectClass: simpleSecurityObject\nuid: %s\nuserPassword: %s\n\n' \
    "$1" "$IDS" "$1" "$2"
}
{
  printf 'dn: %s\nobjectClass: organization\no: identities\n\n' "$IDS"
  identity capped "$CAPPED_PW"
  identity totalcap "$TOTALCAP_PW"
} | "$SLAPADD" -q -b "$IDS" -f "$dir/slapd.conf" >"$dir/slapadd-ids.log" 2>&1 ||
  { cat "$dir/slapadd-ids.log" >&2; die "slapadd of the identities failed"; }

if [ -n "$ldif" ]; then
  "$SLAPADD" -q -f "$dir/slapd.conf" -l "$ldif" >"$dir/slapadd.log" 2>&1 ||
    { cat "$dir/slapadd.log" >&2; die "slapadd failed"; }
else
  printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: quorvel\no: Quorvel\n' \
    "$SUFFIX" | "$SLAPADD" -q -f "$dir/slapd.conf" >"$dir/slapadd.log" 2>&1 ||
    { cat "$dir/slapadd.log" >&2; die "slapadd failed"; }
fi

started=0
for attempt in 1 2 3; do
  read -r port sport < <(free_ports)
  # -d 0 keeps slapd in the foreground; we run it in the background ourselves so
  # that its pid is known at once.
  urls="ldap://127.0.0.1:$port/ ldaps://127.0.0.1:$sport/"
  [ $tls = 1 ] || urls="ldap://127.0.0.1:$port/"
  setsid "$SLAPD" -f "$dir/slapd.conf" -h "$urls" -d 0 >"$dir/slapd.log" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$dir/slapd.pid"
  for _ in $(seq 1 150); do
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    if timeout 5 ldapsearch -x -H "ldap://127.0.0.1:$port" -b "" -s base -LLL namingContexts \
         >/dev/null 2>&1 &&
       { [ $tls = 0 ] ||
         LDAPTLS_REQCERT=never timeout 5 ldapsearch -x -H "ldaps://127.0.0.1:$sport" -b "" -s base \
           -LLL namingContexts >/dev/null 2>&1; }; then
      started=1
      break
    fi
    sleep 0.1
  done
  [ $started = 1 ] && break
  stop_dir "$dir"
  echo "slapd-harness: attempt $attempt failed, retrying" >&2
done
if [ $started != 1 ]; then
  cat "$dir/slapd.log" >&2 || true
  die "slapd did not answer"
fi

cat >"$dir/env" <<EOF
QUORVEL_LDAP_HOST=127.0.0.1
QUORVEL_LDAP_PORT=$port
QUORVEL_LDAPS_PORT=$( [ $tls = 1 ] && echo "$sport" || echo 0 )
QUORVEL_LDAP_BASE='$SUFFIX'
QUORVEL_LDAP_ADMIN_DN='$ADMIN_DN'
QUORVEL_LDAP_ADMIN_PW='$ADMIN_PW'
QUORVEL_LDAP_USER_DN='$USER_DN'
QUORVEL_LDAP_USER_PW='$USER_PW'
QUORVEL_LDAP_CAPPED_DN='$CAPPED_DN'
QUORVEL_LDAP_CAPPED_PW='$CAPPED_PW'
QUORVEL_LDAP_TOTALCAP_DN='$TOTALCAP_DN'
QUORVEL_LDAP_TOTALCAP_PW='$TOTALCAP_PW'
QUORVEL_LDAP_CERT='$dir/cert.pem'
QUORVEL_LDAP_CA='$dir/ca.pem'
QUORVEL_LDAP_SIZELIMIT=$sizelimit
EOF
echo "slapd-harness: running (pid $pid) on ldap://127.0.0.1:$port and ldaps://127.0.0.1:$sport"
