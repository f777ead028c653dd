#!/usr/bin/env bash
# The Debian package, built from the finished build and checked without being
# installed: its control data and file list, then the tree unpacked with
# dpkg-deb -x into a temporary root, from where quorvel-report runs a real
# report against the private slapd with a user data folder of the test's own.
# The desktop entry and metainfo are validated there, and lintian must find
# no error.
#   usage: package_test.sh BUILD_DIR      (the "slapd" fixture must be up)
set -uo pipefail
build=$(realpath "$1")
src=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck disable=SC1091
. "$build/slapd-test/env"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

t=$(mktemp -d /tmp/quorvel-package.XXXXXX)
trap 'rm -rf "$t"' EXIT

deb=$(bash "$src/scripts/package-deb.sh" "$build" "$t" | tail -1)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(basename "$deb")" = "quorvel_${version}_$(dpkg --print-architecture).deb" ] ||
  { echo "FAIL: no package built ($deb)"; exit 1; }
ok "built $(basename "$deb")"

echo "== control data"
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libc6 libstdc++6 libqt6widgets6 libsqlite3-0 libssl3; do
  [[ ", $depends," == *", $dep "* || ", $depends," == *", $dep,"* ]] ||
    fail "Depends lacks $dep: $depends"
done
recommends=$(dpkg-deb --field "$deb" Recommends)
for dep in libsecret-1-0 libsasl2-modules-gssapi-mit; do
  [[ ", $recommends," == *", $dep,"* ]] || fail "Recommends lacks $dep: $recommends"
done
[ "$(dpkg-deb --field "$deb" Package)" = quorvel ] || fail "wrong package name"

echo "== files and links"
contents=$(dpkg-deb --contents "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }')
for entry in \
  ./usr/lib/quorvel/quorvel ./usr/lib/quorvel/quorvel-report \
  ./usr/lib/quorvel/lib/quorvel.db ./usr/lib/quorvel/lib/system-wide \
  ./usr/lib/quorvel/help/index.html ./usr/lib/quorvel/help/files.html ./usr/lib/quorvel/data/ \
  "./usr/bin/quorvel -> ../lib/quorvel/quorvel" \
  "./usr/bin/quorvel-report -> ../lib/quorvel/quorvel-report" \
  "./usr/lib/quorvel/lib/quorvel.so -> ../../$(gcc -print-multiarch)/libsqlite3.so.0" \
  ./usr/share/applications/org.example.quorvel.desktop \
  ./usr/share/metainfo/org.example.quorvel.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/org.example.quorvel.svg \
  ./usr/share/icons/hicolor/48x48/apps/org.example.quorvel.png \
  ./usr/share/icons/hicolor/128x128/apps/org.example.quorvel.png \
  ./usr/share/man/man1/quorvel.1.gz ./usr/share/man/man1/quorvel-report.1.gz \
  ./usr/share/doc/quorvel/copyright ./usr/share/doc/quorvel/changelog.gz; do
  grep -qxF "$entry" <<<"$contents" || fail "missing: $entry"
done
grep -q 'dump.db' <<<"$contents" && fail "the package carries a working store"

echo "== unpacked into a temporary root"
root=$t/root
dpkg-deb -x "$deb" "$root"
# The package's engine link is relative (../../<arch>/libsqlite3.so.0); in
# this root the libsqlite3-0 dependency stands in as a link to the system's.
arch_dir=$root/usr/lib/$(gcc -print-multiarch)
mkdir -p "$arch_dir"
ln -s "$(readlink -f /usr/lib/"$(gcc -print-multiarch)"/libsqlite3.so.0)" "$arch_dir/libsqlite3.so.0"
listing_before=$(find "$root/usr/lib/quorvel" -printf '%p %s %T@\n' | sort)

export HOME=$t/home XDG_DATA_HOME=$t/xdg
mkdir -p "$HOME"
report=$root/usr/bin/quorvel-report
v=$("$report" --version) || fail "--version failed"
grep -q "^quorvel-report .* Build " <<<"$v" || fail "--version printed: $v"
out=$("$report" --list 2>"$t/err")
rc=$?
[ $rc -eq 0 ] || fail "--list: exit $rc: $(cat "$t/err")"
[ -z "$out" ] || fail "--list of the empty catalogue printed: $out"
cat=$XDG_DATA_HOME/quorvel/quorvel.db
[ -f "$cat" ] || fail "no catalogue in the user data folder"
[ "$(stat -c %a "$XDG_DATA_HOME/quorvel")" = 700 ] || fail "user folder not 0700"
[ "$(stat -c %a "$cat")" = 600 ] || fail "catalogue not 0600"
[ -z "$(ls -A "$HOME")" ] || fail "something was written to HOME"

sqlite3 "$cat" "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES
  ('Test','$QUORVEL_LDAP_HOST',$QUORVEL_LDAP_PORT,'N','$QUORVEL_LDAP_ADMIN_DN','$QUORVEL_LDAP_ADMIN_PW','$QUORVEL_LDAP_BASE');
  INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES
  ('people',1,'ou=people,$QUORVEL_LDAP_BASE',2,'cn;mail','(objectClass=inetOrgPerson)');"
[ "$("$report" --list)" = "$(printf 'Test\tpeople\tNone\tBind DN and password')" ] || fail "--list does not show the new profile"
"$report" --profile people --format csv --output "$t/people.csv" 2>"$t/err"
rc=$?
[ $rc -eq 0 ] || fail "report run: exit $rc: $(cat "$t/err")"
head -1 "$t/people.csv" | grep -q '^oid,cn,mail' || fail "report header: $(head -1 "$t/people.csv")"
grep -q '^"\?uid=user0042,ou=people,dc=quorvel,dc=test' "$t/people.csv" || fail "report lacks user0042"
[ "$(wc -l <"$t/people.csv")" -gt 3000 ] || fail "report has $(wc -l <"$t/people.csv") lines"
[ "$(find "$root/usr/lib/quorvel" -printf '%p %s %T@\n' | sort)" = "$listing_before" ] ||
  fail "the program folder changed"
ok "quorvel-report ran from the unpacked tree"

# The windowed program starts from the same tree (offscreen) and finds the
# same user folder: its working store and data folder are there.
rm -rf "$XDG_DATA_HOME/quorvel/data"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/quorvel" >/dev/null 2>&1 &
gui=$!
for _ in $(seq 50); do
  [ -d "$XDG_DATA_HOME/quorvel/data" ] && break
  sleep 0.2
done
kill -KILL $gui 2>/dev/null
wait $gui 2>/dev/null
[ -d "$XDG_DATA_HOME/quorvel/data" ] || fail "the windowed program did not use the user data folder"

echo "== desktop entry, metainfo, lintian"
desktop-file-validate "$root/usr/share/applications/org.example.quorvel.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.quorvel.metainfo.xml" >"$t/as" 2>&1 ||
  fail "appstreamcli validate: $(cat "$t/as")"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$t/lintian" 2>&1 || fail "lintian: $(cat "$t/lintian")"
  grep -E '^[EW]: ' "$t/lintian"
else
  fail "lintian is not installed (scripts/install-deps.sh)"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package: every check passed"
