#!/usr/bin/env bash
# Where quorvel-report (and the windowed program, through the same function)
# keeps the catalogue, tried as an ordinary user would meet it: CI runs as
# root, for whom every folder is writable, so each case runs as the
# unprivileged uid 65534 through setpriv.
#   usage: file_locations_test.sh BUILD_DIR
# Exit 77 (skipped) when not root: only root can switch to another uid.
set -uo pipefail
build=$1
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
  echo "skipped: needs root and setpriv to run as an ordinary user"
  exit 77
fi
user=65534
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mode() { stat -c %a "$1" 2>/dev/null; }

t=$(mktemp -d /tmp/quorvel-locations.XXXXXX)
trap 'rm -rf "$t"' EXIT
chmod 755 "$t"

# A program folder: the runner, the engine link and a catalogue.
make_program() {
  mkdir -p "$1/lib"
  cp "$build/quorvel-report" "$1/"
  ln -s "$(readlink -f "$build/lib/quorvel.so")" "$1/lib/quorvel.so"
  cp "$build/lib/quorvel.db" "$1/lib/quorvel.db"
}
add_profile() {  # catalogue, profile name
  sqlite3 "$1" "INSERT INTO servers (name,server,port,ssl) VALUES ('S','127.0.0.1',1,'N');
                INSERT INTO profiles (name,serverid,basedn,scope,att,filter)
                VALUES ('$2',(SELECT max(id) FROM servers),'',2,'cn','(cn=*)');"
}
# Runs the program as the ordinary user with only the environment given.
as_user() {  # program folder, then NAME=value ... -- arguments
  local prog=$1
  shift
  local envs=()
  while [ "$1" != "--" ]; do envs+=("$1"); shift; done
  shift
  env -i PATH=/usr/bin:/bin "${envs[@]}" \
    setpriv --reuid=$user --regid=$user --clear-groups "$prog/quorvel-report" "$@" \
    >"$t/out" 2>"$t/err"
}
listing() { find "$1" -printf '%p %m %s\n' | sort; }

# The installed program: owned by root, read-only for the user.
make_program "$t/installed"
chmod 644 "$t/installed/lib/quorvel.db"
empty=$(md5sum <"$t/installed/lib/quorvel.db")
installed_before=$(listing "$t/installed")

echo "== portable: lib/ beside the program is writable for the user"
make_program "$t/portable"
add_profile "$t/portable/lib/quorvel.db" portable-profile
mkdir -p "$t/home1"
chown -R $user:$user "$t/portable" "$t/home1"
as_user "$t/portable" HOME="$t/home1" XDG_DATA_HOME="$t/xdg1" -- --list
rc=$?
[ $rc -eq 0 ] || fail "portable: exit $rc: $(cat "$t/err")"
grep -q "portable-profile" "$t/out" || fail "portable: the program folder's catalogue was not read"
[ ! -e "$t/xdg1" ] || fail "portable: a user data folder was created"
[ -z "$(ls -A "$t/home1")" ] || fail "portable: something was written to HOME"

echo "== installed, fresh XDG_DATA_HOME (folders above it missing too)"
mkdir -p "$t/u2"
chown $user:$user "$t/u2"
as_user "$t/installed" HOME="$t/u2" XDG_DATA_HOME="$t/u2/xdg/data" -- --list
rc=$?
q="$t/u2/xdg/data/quorvel"
[ $rc -eq 0 ] || fail "fresh: exit $rc: $(cat "$t/err")"
[ "$(mode "$q")" = 700 ] || fail "fresh: folder mode $(mode "$q"), wanted 700"
[ "$(mode "$q/quorvel.db")" = 600 ] || fail "fresh: catalogue mode $(mode "$q/quorvel.db")"
[ "$(mode "$q/dump.db")" = 600 ] || fail "fresh: working store mode $(mode "$q/dump.db")"
[ "$(mode "$q/data")" = 700 ] || fail "fresh: data/ mode $(mode "$q/data")"
[ "$(md5sum <"$q/quorvel.db")" = "$empty" ] || fail "fresh: the catalogue is not the installed empty one"
[ "$(stat -c %u "$q/quorvel.db")" = $user ] || fail "fresh: the catalogue is not the user's"
[ "$(ls -A "$q" | sort | tr '\n' ' ')" = "data dump.db quorvel.db " ] ||
  fail "fresh: unexpected files: $(ls -A "$q")"
[ -s "$t/out" ] && fail "fresh: the empty catalogue listed profiles: $(cat "$t/out")"

echo "== installed, XDG_DATA_HOME unset: ~/.local/share/quorvel"
mkdir -p "$t/u3"
chown $user:$user "$t/u3"
as_user "$t/installed" HOME="$t/u3" -- --list
rc=$?
[ $rc -eq 0 ] || fail "default: exit $rc: $(cat "$t/err")"
[ -f "$t/u3/.local/share/quorvel/quorvel.db" ] || fail "default: no catalogue in ~/.local/share/quorvel"

echo "== installed, an existing user catalogue is kept as it is"
mkdir -p "$t/u4/quorvel"
cp "$t/installed/lib/quorvel.db" "$t/u4/quorvel/quorvel.db"
add_profile "$t/u4/quorvel/quorvel.db" my-profile
chown -R $user:$user "$t/u4"
chmod 750 "$t/u4/quorvel"
chmod 640 "$t/u4/quorvel/quorvel.db"
mine=$(md5sum <"$t/u4/quorvel/quorvel.db")
as_user "$t/installed" HOME="$t/u4" XDG_DATA_HOME="$t/u4" -- --list
rc=$?
[ $rc -eq 0 ] || fail "existing: exit $rc: $(cat "$t/err")"
grep -q "my-profile" "$t/out" || fail "existing: the user's catalogue was not read"
[ "$(md5sum <"$t/u4/quorvel/quorvel.db")" = "$mine" ] || fail "existing: the catalogue changed"
[ "$(mode "$t/u4/quorvel/quorvel.db")" = 640 ] || fail "existing: the catalogue's mode changed"
[ "$(mode "$t/u4/quorvel")" = 750 ] || fail "existing: the folder's mode changed"

echo "== installed, an XDG_DATA_HOME that cannot be created"
mkdir -p "$t/locked" "$t/u5"
chown $user:$user "$t/u5"
as_user "$t/installed" HOME="$t/u5" XDG_DATA_HOME="$t/locked/xdg" -- --list
rc=$?
[ $rc -eq 1 ] || fail "uncreatable: exit $rc, wanted 1"
grep -q "Cannot create the folder $t/locked/xdg: Permission denied" "$t/err" ||
  fail "uncreatable: unclear message: $(cat "$t/err")"
grep -q "XDG_DATA_HOME" "$t/err" || fail "uncreatable: the message does not say what to do"
[ -z "$(ls -A "$t/locked")" ] || fail "uncreatable: something was written in the locked folder"
[ -z "$(ls -A "$t/u5")" ] || fail "uncreatable: something was written to HOME instead"

[ "$(listing "$t/installed")" = "$installed_before" ] || fail "the install folder changed"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "file locations: every case passed"
