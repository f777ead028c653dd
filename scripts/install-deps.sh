#!/usr/bin/env bash
# Installs everything the build, the program, the tests and the benchmarks need
# from Debian's packages. Idempotent and quick when everything is present.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsqlite3-0 sqlite3
  libssl3 libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  slapd ldap-utils
  libsasl2-2 libsasl2-modules-gssapi-mit krb5-kdc krb5-admin-server krb5-user
  python3 python3-xlrd python3-openpyxl unrtf gnumeric jq
  libxlsxwriter-dev
  libreoffice-calc-nogui libreoffice-writer-nogui
  xvfb xauth time procps
  openbox xdotool x11-utils x11-apps xclip
  at-spi2-core dbus python3-pyatspi
  fonts-dejavu-core
  dpkg-dev fakeroot file lintian desktop-file-utils appstream util-linux
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
# The slapd package would otherwise start (and configure) a system-wide
# directory server; the tests and the demo run their own private instance.
echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
policy_created=0
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  policy_created=1
fi
trap '[ $policy_created -eq 1 ] && $SUDO rm -f /usr/sbin/policy-rc.d' EXIT

echo "install-deps: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
