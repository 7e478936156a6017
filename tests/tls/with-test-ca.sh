#!/usr/bin/env bash
# Runs a command in a private mount namespace in which the system's CA bundle, the one libcurl trusts by
# default, also holds a test CA made now. TIPLARK_TEST_TLS_DIR then names a folder with, in PEM:
#   ca.pem                   the test CA (trusted)
#   server.pem, server.key   a certificate for 127.0.0.1 from the test CA
#   other.pem, other.key     a certificate for 127.0.0.1 from another CA (not trusted)
# Needs root, as CI runs, for the mount namespace.
set -euo pipefail

bundle=/etc/ssl/certs/ca-certificates.crt
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

make_ca() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
    -keyout "$1-ca.key" -out "$1-ca.pem" 2>/dev/null
}
# make_server NAME CA: NAME.pem and NAME.key, for 127.0.0.1, issued by CA.
make_server() {
  printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >server.ext
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 \
    -keyout "$1.key" -out "$1.csr" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA "$2-ca.pem" -CAkey "$2-ca.key" -CAcreateserial -days 2 \
    -extfile server.ext -out "$1.pem" 2>/dev/null
}

(
  cd "$dir"
  make_ca test "Tiplark Test CA"
  make_ca stranger "Unknown Test CA"
  make_server server test
  make_server other stranger
  mv test-ca.pem ca.pem
  cat "$bundle" ca.pem >bundle.crt
)

export TIPLARK_TEST_TLS_DIR=$dir
unshare -m sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$dir/bundle.crt" "$bundle" "$@"
