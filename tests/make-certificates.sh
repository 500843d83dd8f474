#!/bin/sh
# Makes the certificates the HTTPS tests serve, fresh for every build of the tests, into FOLDER:
#   receiver, other   self-signed, as receivers make their own (two, for a changed certificate)
#   ca                a certificate authority that the tests add to the trusted ones
#   named             signed by ca for 127.0.0.1 and localhost: trusted without asking
#   elsewhere         signed by ca for another host name only
set -eu
folder=$1
mkdir -p "$folder"
cd "$folder"
days=30
key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }
for name in receiver other ca; do
    authority=FALSE
    [ "$name" = ca ] && authority=TRUE
    key "$name"
    openssl req -x509 -new -key "$name.key" -out "$name.pem" -days "$days" -subj "/CN=$name" \
        -addext "basicConstraints=critical,CA:$authority"
done
signed() { # name subjectAltName
    key "$1"
    openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
    printf 'subjectAltName=%s\nbasicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n' \
        "$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days "$days" \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}
signed named "IP:127.0.0.1,DNS:localhost"
signed elsewhere "DNS:elsewhere.example"
