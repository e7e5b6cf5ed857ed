#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a private certificate authority and server certificates signed by it, for a private
# lobby, the demo and the tests. Keys are P-256, without a passphrase, readable by their owner.
#
#   scripts/tls-certificates.sh ca DIR NAME                  DIR/NAME.pem, DIR/NAME.key
#   scripts/tls-certificates.sh server DIR CA NAME HOST [DAYS]
#       DIR/NAME.pem (the chain: server, then CA) and DIR/NAME.key for HOST, signed by
#       DIR/CA.pem; valid DAYS (default 825), a negative number makes one already expired.
#
# Files that exist are kept, so a second run changes nothing.
set -euo pipefail

new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; chmod 600 "$1"; }

case "${1:-}" in
ca)
  [ $# -eq 3 ] || { echo "usage: $0 ca DIR NAME" >&2; exit 2; }
  dir=$2 name=$3
  mkdir -p "$dir"
  [ -f "$dir/$name.pem" ] && exit 0
  new_key "$dir/$name.key"
  openssl req -x509 -new -key "$dir/$name.key" -out "$dir/$name.pem" -days 3650 \
    -subj "/CN=$name (tileParlor private CA)" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  ;;
server)
  [ $# -ge 5 ] || { echo "usage: $0 server DIR CA NAME HOST [DAYS]" >&2; exit 2; }
  dir=$2 ca=$3 name=$4 host=$5 days=${6:-825}
  [ -f "$dir/$name.pem" ] && exit 0
  new_key "$dir/$name.key"
  extensions=$(mktemp)
  trap 'rm -f "$extensions" "$dir/$name.csr"' EXIT
  alternative="DNS:$host"
  [ "$host" = localhost ] && alternative="$alternative,IP:127.0.0.1,IP:::1"
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' \
    "$alternative" >"$extensions"
  openssl req -new -key "$dir/$name.key" -out "$dir/$name.csr" -subj "/CN=$host"
  openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" \
    -CAcreateserial -days "$days" -extfile "$extensions" -out "$dir/$name.pem" 2>/dev/null
  cat "$dir/$ca.pem" >>"$dir/$name.pem"
  ;;
*)
  sed -n '3,11p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
  ;;
esac
