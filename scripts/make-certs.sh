#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Creates a local certificate authority and a certificate for localhost signed by it (also named
# glimdeck.test, a name the tests reach only through their proxy):
#   DIR/ca.pem DIR/ca.key DIR/server.pem DIR/server.key
# Usage: make-certs.sh DIR [DAYS [ec|rsa]]   (the server key's type, ec by default)
# The demo server and the tests use it; nothing it makes is meant for a real deployment.
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 3 ] || [ "$1" = -h ] || [ "$1" = --help ] || [[ ! "${3:-ec}" =~ ^(ec|rsa)$ ]]; then
    echo "usage: scripts/make-certs.sh DIR [DAYS [ec|rsa]]   (writes DIR/ca.pem, ca.key, server.pem, server.key)" >&2
    exit 2
fi
dir=$1
days=${2:-825}
key=${3:-ec}
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -days "$days" -sha256 \
    -keyout ca.key -out ca.pem -subj "/CN=Glim-deck local authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
# An ECDSA P-256 key: its handshake signature costs some 25 times less than RSA 2048's, which
# counts when a room's crowd connects at once. RSA for a server whose TLS takes nothing else (Wine's
# schannel).
key_options=(-newkey ec -pkeyopt ec_paramgen_curve:P-256)
[ "$key" = ec ] || key_options=(-newkey rsa:2048)
openssl req "${key_options[@]}" -nodes -sha256 -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
cat > server.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1,DNS:glimdeck.test
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "$days" -sha256 \
    -extfile server.ext -out server.pem 2>/dev/null
rm -f server.csr server.ext ca.srl
chmod 600 ca.key server.key
