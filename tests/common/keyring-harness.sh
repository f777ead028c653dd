#!/usr/bin/env bash
# A private desktop keyring for the tests: a Secret Service (gnome-keyring-daemon)
# on a private D-Bus session bus (dbus-run-session), its login keyring created
# and unlocked with a known password.
#
#   tests/common/keyring-harness.sh start DIR
#   tests/common/keyring-harness.sh stop DIR
#
# start: runs dbus-run-session in the background with this script's "session"
# step inside it, which keeps everything in DIR (HOME, XDG_DATA_HOME with the
# keyring files, XDG_RUNTIME_DIR), starts the keyring daemon with the password
# on its standard input and writes DIR/env (shell syntax; tests read it):
#   QUORVEL_KEYRING_BUS=...       the session bus (DBUS_SESSION_BUS_ADDRESS)
#   QUORVEL_KEYRING_PASSWORD=...  the keyring's password
#   QUORVEL_KEYRING_HOME=DIR/home
# The session then waits for DIR/stop (at most two hours) and ends, which
# ends the bus and with it the keyring daemon.
# stop: creates DIR/stop and waits for the session to end.
set -euo pipefail

PASSWORD="quorvel-keyring-test"
HERE=$(cd "$(dirname "$0")" && pwd -P)

die() { echo "keyring-harness: $*" >&2; exit 1; }

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || die "usage: $0 start|stop DIR"

case "$cmd" in
session)
  export HOME="$dir/home" XDG_DATA_HOME="$dir/home/.local/share" XDG_RUNTIME_DIR="$dir/run"
  export XDG_CONFIG_HOME="$dir/home/.config" XDG_CACHE_HOME="$dir/home/.cache"
  unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL
  mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
  chmod 700 "$XDG_RUNTIME_DIR" "$HOME"
  printf '%s' "$PASSWORD" | gnome-keyring-daemon --unlock --components=secrets >"$dir/daemon.out"
  # The daemon just started owns the service's name once it is ready. Nothing
  # may ask the service before: the bus would start a second daemon, one
  # without the unlocked keyring.
  owned=""
  for _ in $(seq 1 300); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
      grep -q "boolean true"; then
      owned=1
      break
    fi
    sleep 0.1
  done
  [ -n "$owned" ] || die "the keyring daemon did not start"
  {
    echo "QUORVEL_KEYRING_BUS=$DBUS_SESSION_BUS_ADDRESS"
    echo "QUORVEL_KEYRING_PASSWORD=$PASSWORD"
    echo "QUORVEL_KEYRING_HOME=$HOME"
  } >"$dir/env.tmp"
  mv "$dir/env.tmp" "$dir/env"
  for _ in $(seq 1 72000); do
    [ -e "$dir/stop" ] && break
    sleep 0.1
  done
  ;;
start)
  [ -e "$dir/pid" ] && "$0" stop "$dir" || true
  rm -rf "$dir"
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd -P)
  setsid dbus-run-session -- bash "$HERE/keyring-harness.sh" session "$dir" \
    >"$dir/session.log" 2>&1 </dev/null &
  echo $! >"$dir/pid"
  for _ in $(seq 1 300); do
    [ -s "$dir/env" ] && exit 0
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || die "the session ended: $(cat "$dir/session.log")"
    sleep 0.1
  done
  die "no keyring after 30 s: $(cat "$dir/session.log")"
  ;;
stop)
  [ -e "$dir/pid" ] || exit 0
  pid=$(cat "$dir/pid")
  touch "$dir/stop"
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$dir/pid"; exit 0; }
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  rm -f "$dir/pid"
  ;;
*)
  die "unknown command $cmd"
  ;;
esac
