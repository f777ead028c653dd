#!/usr/bin/env bash
# Writes PNG screenshots of the windows (offscreen platform) into a folder for
# review: the main window after a run, both property dialogs, the browse tab
# with an entry's properties, the About box and the certificate questions. Starts a private slapd with
# the test directory and stops it afterwards.
#
#   scripts/screenshots.sh [OUT_DIR] [BUILD_DIR]   (defaults: ./screenshots, <repo>/build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-$root/screenshots}")
build=$(realpath -m "${2:-$root/build}")

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quorvel-screenshots quorvel_lib_tree -j 2 >/dev/null

work=$(mktemp -d)
cleanup() {
  bash "$root/scripts/slapd-harness.sh" stop "$work" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/python3 "$root/scripts/gen-test-ldif.py" -o "$work/test.ldif"
bash "$root/scripts/slapd-harness.sh" start "$work" --ldif "$work/test.ldif" --sizelimit 1000 >/dev/null
mkdir -p "$out"
# The server's authority stays unknown, as on most desktops: the certificate
# question is part of the pictures.
SSL_CERT_FILE="$work/no-authority.pem" QT_QPA_PLATFORM=offscreen "$build/tools/quorvel-screenshots" "$build" "$root" "$work" "$out"
echo "screenshots in $out"
