#!/usr/bin/env bash
# Writes the signed manifest for one file:
#   sign-manifest.sh <pki-dir> <file> <manifest-out>
#
# The manifest is, byte for byte:
#   "# ..." comment line, then the entry line ".\<name>" 1 <sha1 lower-case hex>, each ending
#   in a line feed (this is the signed body);
#   one signature block: the RSA/SHA-1 signature of exactly the body bytes by signer.key,
#   Base64 in 64-character lines between "-----BEGIN SIGNATURE-----" and
#   "-----END SIGNATURE-----";
#   the signer certificate, then the intermediate certificate, as PEM blocks;
#   nothing after the last "-----END CERTIFICATE-----" line (which ends in its line feed).
# The root certificate is not included: readers hold it as their trust anchor.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: sign-manifest.sh <pki-dir> <file> <manifest-out>" >&2
  exit 2
fi
pki=$1
file=$2
out=$3

for f in signer.key signer.crt intermediate.crt; do
  if [ ! -f "$pki/$f" ]; then
    echo "sign-manifest.sh: $pki/$f is missing" >&2
    exit 1
  fi
done
if [ ! -f "$file" ]; then
  echo "sign-manifest.sh: $file is not a file" >&2
  exit 1
fi

name=$(basename -- "$file")
# Entry paths are printable ASCII without the characters that a manifest reader refuses.
if [ -z "$name" ] || [[ $name == *$'\n'* ]] ||
  ! LC_ALL=C grep -qx '[ !#-)+-9;=@-{}~]*' <<<"$name"; then
  echo "sign-manifest.sh: file name not allowed in a manifest entry: $name" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf -- "$tmp"' EXIT

digest=$(openssl dgst -sha1 -r "$file" | cut -d' ' -f1)
printf '# Orbec demo manifest: SHA-1 checksums of the published files\n".\\%s" 1 %s\n' \
  "$name" "$digest" >"$tmp/body"

openssl dgst -sha1 -sign "$pki/signer.key" -out "$tmp/sig" "$tmp/body"
openssl x509 -in "$pki/signer.crt" -pubkey -noout >"$tmp/signer.pub"
if ! openssl dgst -sha1 -verify "$tmp/signer.pub" -signature "$tmp/sig" "$tmp/body" >/dev/null; then
  echo "sign-manifest.sh: signature does not verify with signer.crt (key and certificate differ?)" >&2
  exit 1
fi

{
  cat "$tmp/body"
  echo "-----BEGIN SIGNATURE-----"
  openssl base64 -in "$tmp/sig"
  echo "-----END SIGNATURE-----"
  openssl x509 -in "$pki/signer.crt" -outform PEM
  openssl x509 -in "$pki/intermediate.crt" -outform PEM
} >"$tmp/manifest"

mv -f -- "$tmp/manifest" "$out"
