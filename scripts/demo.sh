#!/usr/bin/env bash
# Shows Quorvel working on something real, on a fresh Debian 12 machine:
#   1. installs the dependencies and builds (build/),
#   2. starts a private directory server on 127.0.0.1 (build/demo-slapd) holding a
#      generated sample organisation (scripts/gen-demo-ldif.py: a few thousand
#      people with UTF-8 names in eight departments, groups, photos, some
#      disabled accounts marked employeeType: Disabled),
#   3. prepares a separate demo folder build/demo/ (a copy of the program, its
#      own lib/quorvel.db with the "Demo directory" servers and a handful of
#      profiles, an empty lib/dump.db, help/ and data/),
#   4. starts the program from there and stops the directory server when the
#      program exits.
# It never touches a catalogue of your own: everything lives in build/demo/.
#
# Options:
#   --no-gui     set up and check the server and the demo catalogue, then stop
#                (no program window; the program need not be built)
#   --no-build   skip installing packages and building (use what build/ holds)
#   --people N   size of the sample organisation (default 4000)
#   --exe FILE   run this program file instead of build/quorvel (implies --no-build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

no_gui=0
no_build=0
people=4000
exe="$root/build/quorvel"
while [ $# -gt 0 ]; do
  case "$1" in
    --no-gui) no_gui=1; shift ;;
    --no-build) no_build=1; shift ;;
    --people) people=$2; shift 2 ;;
    --exe) exe=$(realpath "$2"); no_build=1; shift 2 ;;
    *) echo "demo: unknown option $1 (use --no-gui, --no-build, --people N, --exe FILE)" >&2; exit 2 ;;
  esac
done

say() { echo "demo: $*"; }

if [ $no_build = 0 ]; then
  say "installing dependencies (if any are missing)"
  bash scripts/install-deps.sh
  if [ $no_gui = 0 ]; then
    say "building (build/)"
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$(nproc)"
  fi
fi

if [ $no_gui = 0 ] && [ ! -x "$exe" ]; then
  echo "demo: the program was not built: $exe is missing." >&2
  echo "demo: look at the build output above, or run with --no-gui to try the rest." >&2
  exit 1
fi

SLAPD_DIR="$root/build/demo-slapd"
DEMO="$root/build/demo"
BASE="dc=quorvel,dc=test"
READER_DN="uid=reader,ou=Services,$BASE"
READER_PW="reader"

mkdir -p "$SLAPD_DIR"
stop_slapd() { bash "$root/scripts/slapd-harness.sh" stop "$SLAPD_DIR" || true; }
trap stop_slapd EXIT
# Signals end the script through its EXIT trap, so the server always stops.
trap "exit 130" INT
trap "exit 143" TERM HUP

say "generating the sample organisation ($people people)"
/usr/bin/python3 scripts/gen-demo-ldif.py -n "$people" -o "$SLAPD_DIR/demo.ldif"
say "starting the private directory server"
bash scripts/slapd-harness.sh start "$SLAPD_DIR" --ldif "$SLAPD_DIR/demo.ldif" \
  --sizelimit 50000 --user-dn "$READER_DN" --user-pw "$READER_PW"
# shellcheck disable=SC1091
. "$SLAPD_DIR/env"

say "preparing $DEMO"
rm -rf "$DEMO"
mkdir -p "$DEMO/lib" "$DEMO/data" "$DEMO/help"
if [ -x "$exe" ]; then
  # A copy, not a link: the program finds lib/, help/ and data/ beside its own file.
  cp "$exe" "$DEMO/quorvel"
fi
sqlite_lib=$(ldconfig -p 2>/dev/null |
  awk '/libsqlite3\.so\.0 / && /x86-64|x86_64/ && !f {print $NF; f=1}' || true)
[ -n "$sqlite_lib" ] || sqlite_lib=$(find /usr/lib /lib -name libsqlite3.so.0 2>/dev/null | sort | sed -n 1p)
[ -n "$sqlite_lib" ] || { echo "demo: libsqlite3.so.0 not found (install libsqlite3-0)" >&2; exit 1; }
ln -s "$sqlite_lib" "$DEMO/lib/quorvel.so"
if [ -d "$root/help" ]; then cp -r "$root/help/." "$DEMO/help/"; fi

q() { printf "%s" "$1" | sed "s/'/''/g"; }  # one SQL text literal's content
sql="$DEMO/lib/catalogue-demo.sql"
{
  cat "$root/src/store/catalogue.sql"
  echo "INSERT INTO servers (name, server, port, ssl, uid, pwd, basedn) VALUES"
  echo "  ('Demo directory', '127.0.0.1', $QUORVEL_LDAP_PORT, 'N', '$(q "$READER_DN")', '$READER_PW', '$BASE'),"
  echo "  ('Demo directory (SSL)', '127.0.0.1', $QUORVEL_LDAPS_PORT, 'Y', '$(q "$READER_DN")', '$READER_PW', '$BASE');"
  profile() {  # server-id name basedn scope att filter
    echo "INSERT INTO profiles (serverid, name, basedn, scope, att, filter) VALUES ($1, '$(q "$2")', '$(q "$3")', $4, '$(q "$5")', '$(q "$6")');"
  }
  profile 1 "People with mail and phone" "$BASE" 2 \
    "cn;givenName;sn;mail;telephoneNumber;title;departmentNumber" \
    "(&(objectClass=inetOrgPerson)(mail=*)(telephoneNumber=*))"
  profile 1 "Members of the Engineering Team" "cn=Engineering Team,ou=Groups,$BASE" 0 \
    "cn;description;member" "(objectClass=groupOfNames)"
  profile 1 "Disabled accounts" "$BASE" 2 \
    "uid;cn;mail;departmentNumber;title;employeeType" "(employeeType=Disabled)"
  profile 1 "Everything one level below the base" "$BASE" 1 \
    "ou;description;objectClass" "(objectClass=*)"
  profile 1 "Photos in Sales" "ou=Sales,$BASE" 1 "cn;mail;jpegPhoto" "(jpegPhoto=*)"
  profile 2 "Legal department over SSL" "ou=Legal,$BASE" 1 \
    "cn;title;mail;telephoneNumber;mobile;l" "(objectClass=inetOrgPerson)"
  # The SSL server's certificate comes from the harness's private authority,
  # which this desktop does not know: trust it in advance, as a user would
  # once, so the demo asks nothing.
  cert="$SLAPD_DIR/cert.pem"
  fp=$(openssl x509 -in "$cert" -noout -fingerprint -sha256 | sed 's/^.*=//')
  subject=$(openssl x509 -in "$cert" -noout -subject -nameopt compat | sed 's/^subject=//')
  issuer=$(openssl x509 -in "$cert" -noout -issuer -nameopt compat | sed 's/^issuer=//')
  expiry=$(date -u -d "$(openssl x509 -in "$cert" -noout -enddate | sed 's/^notAfter=//')" \
    '+%Y-%m-%d %H:%M:%S UTC')
  # Trusted where the server is: its host and port.
  echo "INSERT INTO trusted_certificates (serverid, fingerprint, subject, issuer, expiry, trusted, host, port)"
  echo "  VALUES (2, '$fp', '$(q "$subject")', '$(q "$issuer")', '$expiry', '$(date -u '+%Y-%m-%d %H:%M:%S UTC')', '127.0.0.1', $QUORVEL_LDAPS_PORT);"
} >"$sql"
sqlite3 "$DEMO/lib/quorvel.db" <"$sql"
rm -f "$sql"
# The working store starts empty: the program creates its working tables.
sqlite3 "$DEMO/lib/dump.db" "CREATE TABLE demo_init (x); DROP TABLE demo_init;"

if [ $no_gui = 1 ]; then
  say "checking the demo catalogue against the server"
  fail=0
  while IFS='|' read -r name basedn scope filter; do
    case "$scope" in 0) s=base ;; 1) s=one ;; *) s=sub ;; esac
    n=$(ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://127.0.0.1:$QUORVEL_LDAP_PORT" \
          -D "$READER_DN" -w "$READER_PW" -b "$basedn" -s "$s" "$filter" dn 2>/dev/null |
        grep -c '^dn' || true)
    printf 'demo:   %-40s %6s entries\n' "$name" "$n"
    [ "$n" -gt 0 ] || fail=1
  done < <(sqlite3 "$DEMO/lib/quorvel.db" "SELECT name, basedn, scope, filter FROM profiles WHERE serverid = 1")
  LDAPTLS_REQCERT=never ldapsearch -x -LLL -H "ldaps://127.0.0.1:$QUORVEL_LDAPS_PORT" \
    -D "$READER_DN" -w "$READER_PW" -b "$BASE" -s base dn >/dev/null ||
    { echo "demo: the SSL port does not answer" >&2; fail=1; }
  report="$(dirname "$exe")/quorvel-report"
  if [ -x "$report" ]; then
    if "$report" --catalogue "$DEMO/lib/quorvel.db" --show-certificate \
         --server "Demo directory (SSL)" | grep -q '^Trusted: *yes'; then
      say "the SSL server's certificate is trusted in the demo catalogue"
    else
      echo "demo: the SSL server's certificate is not trusted in the demo catalogue" >&2
      fail=1
    fi
  fi
  if [ $fail = 0 ]; then say "dry run passed; the demo folder is $DEMO"; fi
  exit $fail
fi

say "starting Quorvel from $DEMO (the directory server stops when it exits)"
cd "$DEMO"
status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop session (a server or a container): run the program on a virtual
  # display so the demo still works end to end; stop it with Ctrl+C.
  say "no desktop display found: running on a virtual display (Xvfb); press Ctrl+C to stop"
  xvfb-run -a -s "-screen 0 1280x800x24" ./quorvel || status=$?
else
  ./quorvel || status=$?
fi
exit $status
