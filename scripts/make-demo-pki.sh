#!/usr/bin/env bash
# Mints the demo trust chain into the folder given as $1:
#   root.crt/root.key                 self-signed root CA (RSA 2048, SHA-1 with RSA, CA:TRUE)
#   intermediate.crt/intermediate.key CA issued by the root
#   signer.crt/signer.key             end-entity signer issued by the intermediate
#   crl.pem                           three CRL blocks: a version 1 CRL of the root signed
#                                     with MD5 and no revoked entries, then one CRL each of
#                                     two unrelated issuers
# Private keys stay inside that folder. Existing output is left alone.
set -euo pipefail

out=${1:?usage: make-demo-pki.sh <output folder>}
[ -f "$out/crl.pem" ] && exit 0
mkdir -p "$out"
cd "$out"
umask 077

days=3650

cat > openssl.cnf <<'CNF'
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = placeholder
[ v3_root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_intermediate ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_signer ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ ca ]
default_ca = ca_default
[ ca_default ]
database = ./index.txt
default_md = md5
default_crl_days = 3650
CNF

ca_self_signed() { # name subject digest
  openssl req -x509 -config openssl.cnf -newkey rsa:2048 -nodes -"$3" -days "$days" \
    -keyout "$1.key" -out "$1.crt" -subj "$2" -extensions v3_root -set_serial "$4" 2>/dev/null
}

issue() { # name subject issuer extensions serial
  openssl req -new -config openssl.cnf -newkey rsa:2048 -nodes \
    -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA "$3.crt" -CAkey "$3.key" -set_serial "$5" \
    -days "$days" -sha256 -extfile openssl.cnf -extensions "$4" -out "$1.crt" 2>/dev/null
  rm -f "$1.csr"
}

crl_of() { # issuer digest output
  : > index.txt
  openssl ca -config openssl.cnf -gencrl -keyfile "$1.key" -cert "$1.crt" -md "$2" \
    -crldays "$days" -out "$3" 2>/dev/null
}

ca_self_signed root "/O=Orbec Demo/CN=Orbec Demo Root CA" sha1 4097
issue intermediate "/O=Orbec Demo/CN=Orbec Demo Intermediate CA" root v3_intermediate 4098
issue signer "/O=Orbec Demo/CN=Orbec Demo Manifest Signer" intermediate v3_signer 4099

ca_self_signed other1 "/O=Unrelated/CN=Unrelated CA One" sha256 17
ca_self_signed other2 "/O=Unrelated/CN=Unrelated CA Two" sha256 18

crl_of root md5 crl-root.pem
crl_of other1 sha256 crl-other1.pem
crl_of other2 sha256 crl-other2.pem
cat crl-root.pem crl-other1.pem crl-other2.pem > crl.pem
rm -f crl-*.pem other1.* other2.* index.txt* openssl.cnf
