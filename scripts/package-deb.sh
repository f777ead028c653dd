#!/usr/bin/env bash
# Builds the Debian package quorvel_<version>_<arch>.deb from a finished build:
# the system-wide layout (packaging/CMakeLists.txt) installed into a staging
# root, stripped, with its dependencies found by dpkg-shlibdeps plus the
# libraries the programs load at run time (which it cannot see).
#   usage: scripts/package-deb.sh [BUILD_DIR [OUT_DIR]]   (default: build build)
# Prints the package's path on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath "${2:-$build}")
mkdir -p "$out"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package-deb: no project version in $build/CMakeCache.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root cmake --install "$build" --component system --prefix /usr --strip >/dev/null

# Modes as Debian wants them, whatever the umask of the build.
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root/usr/lib/quorvel/quorvel" "$root/usr/lib/quorvel/quorvel-report"

# Shared-library dependencies of the programs. SQLite 3 and OpenSSL are
# loaded with dlopen at run time, so they are named by hand. The desktop
# keyring and Kerberos sign-in are loaded the same way but are optional: a
# program without them says so when a server needs them.
mkdir -p "$stage/debian"
printf 'Source: quorvel\n\nPackage: quorvel\nArchitecture: any\n' >"$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O \
  -e"root/usr/lib/quorvel/quorvel" -e"root/usr/lib/quorvel/quorvel-report" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
depends="$shlibs, libsqlite3-0, libssl3"

mkdir -p "$root/DEBIAN"
cat >"$root/DEBIAN/control" <<CONTROL
Package: quorvel
Version: $version
Architecture: $arch
Maintainer: Quorvel maintainers <support@quorvel.example.org>
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Recommends: libsecret-1-0, libsasl2-2, libsasl2-modules-gssapi-mit
Section: net
Priority: optional
Homepage: https://quorvel.example.org/
Description: reports from LDAP directories
 Quorvel keeps a catalogue of directory servers and saved search profiles,
 runs a profile over LDAP v3 (in clear, with SSL/TLS or StartTLS), shows
 every entry it finds as one row, browses the directory tree and lists an
 entry's attributes, and saves the rows as reports in thirteen file formats
 (LDIF-style text, LDIF records, JSON Lines, HTML, Excel .xls and .xlsx,
 Word, plain text, CSV, tab-separated text, RTF, DIF, SYLK).
 .
 quorvel-report runs the same stored profiles without a desktop, for
 scheduled reports. Each user keeps their own catalogue in
 ~/.local/share/quorvel/.
CONTROL
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

deb="$out/quorvel_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
