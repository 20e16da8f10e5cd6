#!/usr/bin/env bash
# The job orbec does, done with standard tools: the baseline that bench/run measures orbec
# against.
#   bench/baseline.sh <server URL> <account> <password> <root.crt> <crl.pem> <output file>
#
# curl for the four downloads and two manifests, openssl for the manifest signatures and the
# certificate chain, sha1sum for the checksums, GNU tar for the unpacking, unzip -p for the
# virus data version, and the ISO program orbec picks (xorrisofs here) with orbec's command
# line. The work folder is a private folder under $TMPDIR (or /tmp), removed at the end. Exit
# status 0 exactly when the image was written.
set -euo pipefail

if [ $# -ne 6 ]; then
  echo "usage: baseline.sh <server URL> <account> <password> <root.crt> <crl.pem> <output>" >&2
  exit 2
fi
server=$1
account=$2
password=$3
root_cert=$4
crl=$5
output=$6

work=$(mktemp -d "${TMPDIR:-/tmp}/baseline-work-XXXXXX")
trap 'rm -rf -- "$work"' EXIT
slax=$work/slax

fetch() { # url file [curl options...]
  curl --fail --silent --show-error -o "$2" "${@:3}" "$1"
}

# Checks <file> against the signed manifest <manifest>: the signature over the listed text,
# the signer's chain up to the root, the CRL of the root, and the listed SHA-1 of <name>.
verify() { # manifest file name
  local m=$1 file=$2 name=$3 v=$work/verify
  mkdir -p "$v"
  cp -- "$root_cert" "$v/root.crt"
  cp -- "$crl" "$v/crl.pem"
  awk -v dir="$v" '
    /^-----BEGIN SIGNATURE-----$/ { part = "sig"; next }
    /^-----END SIGNATURE-----$/ { part = "certs"; next }
    part == "" { print > (dir "/body") }
    part == "sig" { print > (dir "/sig.b64") }
    part == "certs" {
      if ($0 == "-----BEGIN CERTIFICATE-----") count++
      print > (dir (count == 1 ? "/signer.crt" : "/chain.crt"))
    }' "$m"
  openssl base64 -d -in "$v/sig.b64" -out "$v/sig.bin"
  openssl x509 -in "$v/signer.crt" -pubkey -noout >"$v/signer.pub"
  openssl dgst -sha1 -verify "$v/signer.pub" -signature "$v/sig.bin" "$v/body" >/dev/null
  openssl verify -CAfile "$v/root.crt" -untrusted "$v/chain.crt" "$v/signer.crt" >/dev/null
  openssl verify -CAfile "$v/root.crt" -crl_check -CRLfile "$v/crl.pem" "$v/chain.crt" >/dev/null
  local expected actual
  expected=$(awk -v entry="\".\\\\$name\"" '$1 == entry { print $3; exit }' "$v/body")
  actual=$(sha1sum -- "$file" | cut -d' ' -f1)
  rm -rf -- "$v"
  [ -n "$expected" ] && [ "$expected" = "$actual" ]
}

# Downloads <name> from <base> into <folder> and checks it against <manifest>, once more
# on a failed check.
fetch_verified() { # base name manifest folder [curl options...]
  local base=$1 name=$2 manifest=$3 folder=$4
  shift 4
  for attempt in 1 2; do
    fetch "$base/$name" "$folder/$name" "$@"
    fetch "$base/$manifest" "$folder/manifest.dat" "$@"
    if verify "$folder/manifest.dat" "$folder/$name" "$name"; then
      rm -f -- "$folder/manifest.dat"
      return 0
    fi
    echo "verification of $name failed (attempt $attempt)" >&2
  done
  return 1
}

auth=(--user "$account:$password")
fetch_verified "$server/tools/orbe/1.1" KaveroLive-SLAX.tar KaveroLive-SLAX_manifest.dat "$work"
tar -xf "$work/KaveroLive-SLAX.tar" -C "$work"
rm -f -- "$work/KaveroLive-SLAX.tar"

products=$server/kavero/products/full/OEM/Lumo
fetch_verified "$products/current/unix" linux.intel.libc6.glibc.2.2.tar \
  linux.intel.libc6.glibc.2.2.manifest "$slax" "${auth[@]}"
fetch "$products/data/vdl.zip" "$slax/vdl.zip" "${auth[@]}"
version=$(unzip -p "$slax/vdl.zip" virusDataVersion.txt | head -n 1 | tr -d '\r')
fetch "$products/data/ide_$version.zip" "$slax/ide_$version.zip" "${auth[@]}"

# The ISO program orbec picks: the first of these on PATH.
iso_program=()
for candidate in mkisofs genisoimage xorrisofs; do
  if command -v "$candidate" >/dev/null; then
    iso_program=("$candidate")
    break
  fi
done
[ ${#iso_program[@]} -gt 0 ] || iso_program=(xorriso -as mkisofs)
(cd "$work" && "${iso_program[@]}" -quiet -J -R -D -no-emul-boot -boot-info-table \
  -boot-load-size 4 -b slax/boot/isolinux.bin -c slax/boot/isolinux.boot -o orbe.iso \
  -A "ORBE $version" -V "ORBE $version" .)
mv -f -- "$work/orbe.iso" "$output"
