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
xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  bash "$root/scripts/slapd-harness.sh" stop "$work" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/python3 "$root/scripts/gen-test-ldif.py" -o "$work/test.ldif"
bash "$root/scripts/slapd-harness.sh" start "$work" --ldif "$work/test.ldif" --sizelimit 1000 >/dev/null
mkdir -p "$out"
# The server's authority stays unknown, as on most desktops: the certificate
# question is part of the pictures.
if [ "${QUORVEL_SCREENSHOTS:-wm}" = offscreen ]; then
  SSL_CERT_FILE="$work/no-authority.pem" QT_QPA_PLATFORM=offscreen \
    "$build/tools/quorvel-screenshots" "$build" "$root" "$work" "$out"
else
  # A private display and the window manager on it.
  Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
  display=":$(head -1 "$work/display")"
  DISPLAY=$display openbox --sm-disable >/dev/null 2>&1 &
  wm_pid=$!
  for _ in $(seq 100); do
    DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q WINDOW && break
    sleep 0.1
  done
  SSL_CERT_FILE="$work/no-authority.pem" DISPLAY=$display QT_QPA_PLATFORM=xcb \
    "$build/tools/quorvel-screenshots" "$build" "$root" "$work" "$out"
fi
echo "screenshots in $out"
