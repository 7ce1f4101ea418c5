#!/usr/bin/env bash
# Optional Authenticode signing: with a throw-away CA and code-signing
# certificates, the build signs the package (PKCS#12 with a password file, then
# PEM), the signature verifies against that CA and uses SHA-256, one changed
# payload byte breaks it, the unsigned program is the one an unsigned build
# makes, and switching signing off gives the unsigned program back.
#
# usage: signing.sh <source tree> [<copy of the tree> <its unsigned package build>]
# With the last two (an unsigned build_package of that copy, as the
# reproducibility check leaves it), that build is signed instead of a new one.
set -euo pipefail
src=$(cd "$1" && pwd)
. "$src/tests/release/common.sh"
release_scratch
export SOURCE_DATE_EPOCH=1700000000

fail() { echo "FAIL: $*"; exit 1; }
hash() { sha256sum <"$1" | cut -d' ' -f1; }
# verify <exe>: osslsigncode's verdict against the throw-away CA; output kept in $verify_log.
verify() {
  verify_log=$(osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" 2>&1) && return 0
  return 1
}

# ------------------------------------------------------------ throw-away PKI
pki=$scratch/pki
mkdir -p "$pki"
ossl() { openssl "$@" >>"$pki/openssl.log" 2>&1 || { cat "$pki/openssl.log"; exit 1; }; }
ossl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 30 \
     -subj "/CN=QNVPD Test Root" \
     -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
cat >"$pki/leaf.ext" <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
EXT
# make_leaf <name> <common name>: key and certificate signed by the CA.
make_leaf() {
  ossl req -newkey rsa:2048 -nodes -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$2"
  ossl x509 -req -in "$pki/$1.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
       -days 30 -sha256 -extfile "$pki/leaf.ext" -out "$pki/$1.pem"
}
make_leaf signer "KAVRO Test Signer"
make_leaf second "KAVRO Second Signer"
printf 'qnvpd-test-pass\n' >"$pki/password.txt"
ossl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/ca.pem" \
     -passout "file:$pki/password.txt" -out "$pki/signer.p12"

if [ -n "${3:-}" ]; then
  tree=$2
  bld=$3
else
  tree=$scratch/src
  copy_sources "$src" "$tree"
  bld=$scratch/build
  build_package "$tree" "$bld"
fi
pkg=$bld/QNVPDSetup.exe

# ------------------------------------------------------------ unsigned
plain=$(hash "$pkg")
verify "$pkg" && fail "an unsigned build carries a signature"
[ -e "$bld/unsigned" ] && fail "an unsigned build made an unsigned/ folder"
echo "ok: without a certificate nothing is signed"

# ------------------------------------------------------------ PKCS#12 with a password file
build_package "$tree" "$bld" -DSIGN_PKCS12="$pki/signer.p12" -DSIGN_PASSWORD_FILE="$pki/password.txt"
verify "$pkg" || { echo "$verify_log"; fail "the PKCS#12-signed package does not verify"; }
grep -q "KAVRO Test Signer" <<<"$verify_log" || { echo "$verify_log"; fail "signer not named"; }
grep -qi "digest algorithm *: *sha256" <<<"$verify_log" ||
  { echo "$verify_log"; fail "the signature is not SHA-256"; }
[ "$(hash "$bld/unsigned/QNVPDSetup.exe")" = "$plain" ] ||
  fail "the unsigned program differs from the one an unsigned build makes"
echo "ok: signed with PKCS#12, verifies, unsigned copy unchanged"

# One payload byte changed: the signature must no longer hold.
marker="Stand-in payload file for resource 105"
offset=$(grep -obaF "$marker" "$pkg" | head -n 1 | cut -d: -f1)
[ -n "$offset" ] || fail "placeholder text of resource 105 not found in the package"
cp "$pkg" "$scratch/tampered.exe"
printf 'X' | dd of="$scratch/tampered.exe" bs=1 seek=$((offset + 10)) conv=notrunc status=none
cmp -s "$pkg" "$scratch/tampered.exe" && fail "the byte was not changed"
verify "$scratch/tampered.exe" && { echo "$verify_log"; fail "a changed payload byte still verifies"; }
grep -q "MISMATCH" <<<"$verify_log" ||
  { echo "$verify_log"; fail "the changed copy failed for another reason than its digest"; }
echo "ok: a changed payload byte breaks the signature"

# ------------------------------------------------------------ PEM, another certificate
build_package "$tree" "$bld" -DSIGN_PKCS12= -DSIGN_PASSWORD_FILE= \
  -DSIGN_CERT="$pki/second.pem" -DSIGN_KEY="$pki/second.key"
verify "$pkg" || { echo "$verify_log"; fail "the PEM-signed package does not verify"; }
grep -q "KAVRO Second Signer" <<<"$verify_log" ||
  { echo "$verify_log"; fail "changing the certificate did not sign again"; }
first=$(hash "$pkg")
# Signed again with the same certificate and SOURCE_DATE_EPOCH: the same bytes.
rm -f "$bld/unsigned/QNVPDSetup.exe" "$pkg"
cmake --build "$bld" -j2 --target QNVPDSetup >"$bld.rebuild.log" 2>&1 || { cat "$bld.rebuild.log"; exit 1; }
[ "$(hash "$pkg")" = "$first" ] || fail "signing twice with a fixed signing time gave different files"
echo "ok: signed with PEM, verifies, signed file reproducible"

# ------------------------------------------------------------ signing switched off
build_package "$tree" "$bld" -DSIGN_CERT= -DSIGN_KEY=
verify "$pkg" && fail "switching signing off left a signed package"
[ "$(hash "$pkg")" = "$plain" ] || fail "switching signing off did not give the unsigned program"
echo "ok: switching signing off gives the unsigned program back"
