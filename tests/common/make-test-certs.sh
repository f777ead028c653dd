#!/usr/bin/env bash
# Makes the certificates of the certificate tests in DIR with the openssl CLI:
#   ca.pem / ca.key          a test certificate authority (hand it to the client
#                            through SSL_CERT_FILE)
#   good.pem / good.key      signed by it for IP 127.0.0.1 and DNS localhost
#   renewed.pem / renewed.key  the same names, another key (a changed certificate)
#   self.pem / self.key      self-signed for 127.0.0.1
#   other.pem / other.key    signed by the CA for ldap.other.invalid only
#   expired.pem / expired.key  signed by the CA for 127.0.0.1, valid 2020 to 2021
#   mixed.pem / mixed.key    everything wrong at once: self-signed, valid 2020
#                            to 2021, issued for DNS:attacker.invalid only
#   markup.pem / markup.key  for 127.0.0.1, signed by an authority nobody trusts
#                            (markupca.pem) whose OU is mark-up that would forge
#                            a fingerprint if shown as rich text
# Existing files are kept; the script is quiet unless something fails.
set -euo pipefail
dir=${1:?usage: make-test-certs.sh DIR}
mkdir -p "$dir"
cd "$dir"
exec 9>.lock
flock 9  # test programs running side by side make the set once
[ -s markup.pem ] && exit 0  # the last one made

log=$(mktemp)
trap 'rm -f "$log"' EXIT
run() { "$@" >>"$log" 2>&1 || { cat "$log" >&2; echo "make-test-certs: $* failed" >&2; exit 1; }; }

run openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/O=Quorvel Test/CN=Quorvel Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.pem

cat >ca.cnf <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
organizationName = optional
organizationalUnitName = optional
[leaf]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
CNF
: >index.txt
echo 1000 >serial

# name subject-alt-names [start end]
leaf() {
  local name=$1 san=$2 start=${3:-} end=${4:-}
  run openssl req -new -newkey rsa:2048 -nodes -subj "/O=Quorvel Test/CN=$name" \
    -addext "subjectAltName=$san" -keyout "$name.key" -out "$name.csr"
  local dates=(-days 3650)
  [ -n "$start" ] && dates=(-startdate "$start" -enddate "$end")
  run openssl ca -batch -config ca.cnf -extensions leaf -cert ca.pem -keyfile ca.key \
    "${dates[@]}" -in "$name.csr" -out "$name.pem" -notext
  rm -f "$name.csr"
}
leaf good "IP:127.0.0.1,DNS:localhost"
leaf renewed "IP:127.0.0.1,DNS:localhost"
leaf other "DNS:ldap.other.invalid"
leaf expired "IP:127.0.0.1,DNS:localhost" 20200101000000Z 20210101000000Z
run openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/O=Quorvel Test/CN=127.0.0.1" \
  -addext "subjectAltName=IP:127.0.0.1" -keyout self.key -out self.pem

run openssl req -new -newkey rsa:2048 -nodes -subj "/O=Quorvel Test/CN=mixed" \
  -addext "subjectAltName=DNS:attacker.invalid" -keyout mixed.key -out mixed.csr
run openssl ca -batch -config ca.cnf -selfsign -keyfile mixed.key -extensions leaf \
  -startdate 20200101000000Z -enddate 20210101000000Z -in mixed.csr -out mixed.pem -notext
rm -f mixed.csr

run openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
  -subj "/O=Quorvel Test/OU=<br>SHA-256 fingerprint:<br>11:22:33:44<!--/CN=Markup CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout markupca.key -out markupca.pem
run openssl req -new -newkey rsa:2048 -nodes -subj "/O=Quorvel Test/CN=markup" \
  -addext "subjectAltName=IP:127.0.0.1" -keyout markup.key -out markup.csr
run openssl ca -batch -config ca.cnf -extensions leaf -cert markupca.pem -keyfile markupca.key \
  -days 3650 -in markup.csr -out markup.pem -notext
rm -f markup.csr
chmod 600 ./*.key
