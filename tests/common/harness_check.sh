#!/usr/bin/env bash
# Checks that the private directory of the "slapd" fixture is what the other
# tests rely on, with the stock command-line client: the size limit binds the
# normal user but not the admin, the capped identities answer as described in
# scripts/slapd-harness.sh, StartTLS and LDAPS answer, the binary
# attribute comes back as ;binary and the referral entry as a reference.
set -uo pipefail
dir=$1
# shellcheck disable=SC1091
. "$dir/env"
url="ldap://$QUORVEL_LDAP_HOST:$QUORVEL_LDAP_PORT"
fail=0
check() {  # description, expected, actual
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; fail=1; else echo "ok: $1"; fi
}
search() { ldapsearch -x -LLL -o ldif-wrap=no -H "$url" "$@" 2>/dev/null; }

search -D "$QUORVEL_LDAP_USER_DN" -w "$QUORVEL_LDAP_USER_PW" -b "$QUORVEL_LDAP_BASE" \
  '(objectClass=*)' dn >/dev/null
check "size limit for the normal user" 4 $?
n=$(search -D "$QUORVEL_LDAP_ADMIN_DN" -w "$QUORVEL_LDAP_ADMIN_PW" -b "$QUORVEL_LDAP_BASE" \
  '(objectClass=*)' dn | grep -c '^dn:')
check "the admin reads every entry" 3023 "$n"
for who in CAPPED TOTALCAP; do
  dn_var=QUORVEL_LDAP_${who}_DN pw_var=QUORVEL_LDAP_${who}_PW
  search -D "${!dn_var}" -w "${!pw_var}" -b "$QUORVEL_LDAP_BASE" '(objectClass=*)' dn >/dev/null
  check "plain search of the $who identity stops at its limit" 4 $?
done
n=$(search -D "$QUORVEL_LDAP_CAPPED_DN" -w "$QUORVEL_LDAP_CAPPED_PW" -b "$QUORVEL_LDAP_BASE" \
  -E pr=500/noprompt '(objectClass=*)' dn | grep -c '^dn:')
check "a paged search of the capped identity reads every entry" 3023 "$n"
search -D "$QUORVEL_LDAP_TOTALCAP_DN" -w "$QUORVEL_LDAP_TOTALCAP_PW" -b "$QUORVEL_LDAP_BASE" \
  -E pr=500/noprompt '(objectClass=*)' dn >/dev/null
check "a paged search of the total-capped identity stops too" 4 $?
search -D "$QUORVEL_LDAP_USER_DN" -w wrong -b "$QUORVEL_LDAP_BASE" -s base dn >/dev/null
check "wrong password" 49 $?
n=$(search -b "cn=big,ou=groups,$QUORVEL_LDAP_BASE" -s base member | grep -c '^member:')
check "members of the big group" 3000 "$n"
n=$(search -b "$QUORVEL_LDAP_BASE" '(uid=tuser)' userCertificate | grep -c '^userCertificate;binary::')
check "certificate as ;binary" 1 "$n"
n=$(ldapsearch -x -LLL -o ldif-wrap=no -H "$url" -b "$QUORVEL_LDAP_BASE" -s one '(objectClass=*)' dn |
  grep -c '^# refldap://127.0.0.1:1/ou=elsewhere,dc=other,dc=test')
check "referral below the base" 1 "$n"
LDAPTLS_REQCERT=never search -ZZ -b "$QUORVEL_LDAP_BASE" -s base dn >/dev/null
check "StartTLS" 0 $?
LDAPTLS_REQCERT=never ldapsearch -x -LLL -H "ldaps://$QUORVEL_LDAP_HOST:$QUORVEL_LDAPS_PORT" \
  -b "$QUORVEL_LDAP_BASE" -s base dn >/dev/null 2>&1
check "LDAPS" 0 $?
exit $fail
