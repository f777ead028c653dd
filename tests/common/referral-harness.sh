#!/usr/bin/env bash
# Four private directory servers on 127.0.0.1 that refer to one another, for
# the referral tests (the CTest fixture "referrals").
#
#   tests/common/referral-harness.sh start DIR CERTDIR
#   tests/common/referral-harness.sh stop DIR
#
# Every server holds part of dc=quorvel,dc=test, with the administrator
# cn=admin,dc=quorvel,dc=test and the same password everywhere (as one
# sign-in meets across the servers of a directory):
#   a  ou=ok: ou=people,ou=ok (cn=a1, cn=a2) and the referral objects
#        ou=remote,ou=ok -> b, ou=chain,ou=ok -> b, ou=loop,ou=ok -> b;
#      ou=bad: cn=a3,ou=bad and the referral objects
#        ou=closed,ou=bad -> a closed port, ou=clear,ou=bad -> d (no TLS),
#        ou=untrusted,ou=bad -> c over ldaps:// (a certificate nobody trusts);
#      ou=deep -> b ou=l1,ou=deep (a chain of six: l1 -> l2 ... -> l6);
#      ou=run: empty, for referral objects a test adds and removes itself
#   b  ou=remote,ou=ok (cn=b1, cn=b2); ou=chain,ou=ok (cn=b3) with
#        ou=next,ou=chain,ou=ok -> c; ou=loop,ou=ok (cn=b4) with
#        ou=back,ou=loop,ou=ok -> a ou=ok (back where the search started);
#      ou=l1..ou=l6,ou=deep, each with cn=lN and ou=next -> the next one
#   c  ou=next,ou=chain,ou=ok (cn=c1); ou=untrusted,ou=bad (cn=c2)
#   d  ou=clear,ou=bad (cn=d1); no TLS at all: StartTLS is refused
# a and b use the certificate material of CERTDIR (the main test server's,
# which every test trusts through SSL_CERT_FILE); c makes its own authority,
# which nobody trusts. DIR/env holds REF_{A,B,C,D}_PORT, REF_{A,B,C}_LDAPS,
# REF_CLOSED_PORT, REF_BASE, REF_ADMIN_DN and REF_ADMIN_PW.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
harness="$here/../../scripts/slapd-harness.sh"
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start DIR CERTDIR | stop DIR" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd -P)
BASE="dc=quorvel,dc=test"
ADMIN_DN="cn=admin,$BASE"
ADMIN_PW="quorvel-admin"

if [ "$cmd" = stop ]; then
  for s in a b c d; do bash "$harness" stop "$dir/$s" || true; done
  exit 0
fi
[ "$cmd" = start ] || { echo "unknown command $cmd" >&2; exit 1; }
certs=${3:?the folder of the trusted certificate material}

ou() { printf 'dn: %s\nobjectClass: organizationalUnit\nou: %s\n\n' "$1" "${1%%,*}" | sed 's/^ou: ou=/ou: /'; }
person() { printf 'dn: cn=%s,%s\nobjectClass: person\ncn: %s\nsn: %s\n\n' "$1" "$2" "$1" "$1"; }
root() { printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: quorvel\no: Quorvel\n\n' "$BASE"; }

{
  root; ou "ou=ok,$BASE"; ou "ou=people,ou=ok,$BASE"
  person a1 "ou=people,ou=ok,$BASE"; person a2 "ou=people,ou=ok,$BASE"
  ou "ou=bad,$BASE"; person a3 "ou=bad,$BASE"; ou "ou=run,$BASE"
} >"$dir/a.ldif"
{
  root; ou "ou=ok,$BASE"; ou "ou=remote,ou=ok,$BASE"
  person b1 "ou=remote,ou=ok,$BASE"; person b2 "ou=remote,ou=ok,$BASE"
  ou "ou=chain,ou=ok,$BASE"; person b3 "ou=chain,ou=ok,$BASE"
  ou "ou=loop,ou=ok,$BASE"; person b4 "ou=loop,ou=ok,$BASE"
  ou "ou=deep,$BASE"
  for n in 1 2 3 4 5 6; do ou "ou=l$n,ou=deep,$BASE"; person "l$n" "ou=l$n,ou=deep,$BASE"; done
} >"$dir/b.ldif"
{
  root; ou "ou=ok,$BASE"; ou "ou=chain,ou=ok,$BASE"; ou "ou=next,ou=chain,ou=ok,$BASE"
  person c1 "ou=next,ou=chain,ou=ok,$BASE"
  ou "ou=bad,$BASE"; ou "ou=untrusted,ou=bad,$BASE"; person c2 "ou=untrusted,ou=bad,$BASE"
} >"$dir/c.ldif"
{
  root; ou "ou=bad,$BASE"; ou "ou=clear,ou=bad,$BASE"; person d1 "ou=clear,ou=bad,$BASE"
} >"$dir/d.ldif"

for s in a b; do
  mkdir -p "$dir/$s"
  cp "$certs/ca.pem" "$certs/ca.key" "$certs/cert.pem" "$certs/key.pem" "$dir/$s/"
done
bash "$harness" start "$dir/a" --ldif "$dir/a.ldif" >/dev/null
bash "$harness" start "$dir/b" --ldif "$dir/b.ldif" >/dev/null
bash "$harness" start "$dir/c" --ldif "$dir/c.ldif" >/dev/null
bash "$harness" start "$dir/d" --ldif "$dir/d.ldif" --no-tls >/dev/null

port() { sed -n "s/^QUORVEL_LDAP${2:-}_PORT=//p" "$dir/$1/env"; }
A=$(port a); B=$(port b); C=$(port c); D=$(port d)
AS=$(port a S); BS=$(port b S); CS=$(port c S)
# A port nothing listens on: bound, then closed.
CLOSED=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

referral() {  # dn url
  printf 'dn: %s\nobjectClass: referral\nobjectClass: extensibleObject\n%s: %s\nref: %s\n\n' \
    "$1" "$(echo "${1%%=*}")" "$(echo "${1%%,*}" | cut -d= -f2)" "$2"
}
add() {  # instance port, LDIF on stdin
  ldapadd -x -M -H "ldap://127.0.0.1:$1" -D "$ADMIN_DN" -w "$ADMIN_PW" >/dev/null
}
{
  referral "ou=remote,ou=ok,$BASE" "ldap://127.0.0.1:$B/ou=remote,ou=ok,$BASE"
  referral "ou=chain,ou=ok,$BASE" "ldap://127.0.0.1:$B/ou=chain,ou=ok,$BASE"
  referral "ou=loop,ou=ok,$BASE" "ldap://127.0.0.1:$B/ou=loop,ou=ok,$BASE"
  referral "ou=closed,ou=bad,$BASE" "ldap://127.0.0.1:$CLOSED/ou=closed,ou=bad,$BASE"
  referral "ou=clear,ou=bad,$BASE" "ldap://127.0.0.1:$D/ou=clear,ou=bad,$BASE"
  referral "ou=untrusted,ou=bad,$BASE" "ldaps://127.0.0.1:$CS/ou=untrusted,ou=bad,$BASE"
  referral "ou=deep,$BASE" "ldap://127.0.0.1:$B/ou=l1,ou=deep,$BASE"
} | add "$A"
{
  referral "ou=next,ou=chain,ou=ok,$BASE" "ldap://127.0.0.1:$C/ou=next,ou=chain,ou=ok,$BASE"
  referral "ou=back,ou=loop,ou=ok,$BASE" "ldap://127.0.0.1:$A/ou=ok,$BASE"
  for n in 1 2 3 4 5; do
    referral "ou=next,ou=l$n,ou=deep,$BASE" "ldap://127.0.0.1:$B/ou=l$((n + 1)),ou=deep,$BASE"
  done
} | add "$B"

cat >"$dir/env" <<EOF2
REF_A_PORT=$A
REF_A_LDAPS=$AS
REF_B_PORT=$B
REF_B_LDAPS=$BS
REF_C_PORT=$C
REF_C_LDAPS=$CS
REF_D_PORT=$D
REF_CLOSED_PORT=$CLOSED
REF_BASE='$BASE'
REF_ADMIN_DN='$ADMIN_DN'
REF_ADMIN_PW='$ADMIN_PW'
EOF2
echo "referral-harness: a $A/$AS, b $B/$BS, c $C/$CS, d $D (no TLS), closed $CLOSED"
