#!/usr/bin/env bash
# Optional Authenticode signing: with a throw-away CA and code-signing
# certificates, the build signs the package (PKCS#12 with a password file, PEM,
# then a key on a PKCS#11 token with time stamps), the signature verifies
# against that CA and uses SHA-256, one changed payload byte breaks it, the
# unsigned program is the one an unsigned build makes, a wrong PIN or key is
# refused with its cause, and switching signing off gives the unsigned program
# back.
#
# usage: signing.sh <source tree> [<copy of the tree> <its unsigned package build>
#                                  [<out>]]
# With the copy and its build (an unsigned build_package of that copy, as the
# reproducibility check leaves it), that build is signed instead of a new one.
# Given <out>, the package signed through PKCS#11 is left there with its
# stand-in payload for release_token_signed_installs, which installs it under
# Wine.
set -euo pipefail
src=$(cd "$1" && pwd)
. "$src/tests/release/common.sh"
release_scratch
export SOURCE_DATE_EPOCH=1700000000

fail() { echo "FAIL: $*"; exit 1; }
hash() { sha256sum <"$1" | cut -d' ' -f1; }
# verify <exe>: osslsigncode's verdict against the throw-away CA; output kept in $verify_log.
verify() {
  verify_log=$(osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$1" 2>&1) &&
    return 0
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

# ------------------------------------------------------------ a key on a PKCS#11 token
# A SoftHSM2 token of this run's own holds the signer's key; the certificate
# comes from its PEM file, the PIN from a file. Time stamps come from a local
# server listed second, after one that refuses connections.
module=/usr/lib/softhsm/libsofthsm2.so
export SOFTHSM2_CONF=$scratch/softhsm2.conf
mkdir -p "$scratch/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
       "$scratch/tokens" >"$SOFTHSM2_CONF"
pin=qnvpd-pin-4711
printf '%s\n' "$pin" >"$pki/pin.txt"
hsm() { softhsm2-util "$@" >>"$pki/softhsm.log" 2>&1 || { cat "$pki/softhsm.log"; exit 1; }; }
hsm --init-token --free --label qnvpd-test --so-pin 24682468 --pin "$pin"
hsm --import "$pki/signer.key" --token qnvpd-test --label signer --id 01 --pin "$pin"
key="pkcs11:token=qnvpd-test;object=signer;type=private"

printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
       >"$pki/tsa.ext"
ossl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$pki/tsa.key" \
     -out "$pki/tsa.csr" -subj "/CN=QNVPD Test Time Stamps"
ossl x509 -req -in "$pki/tsa.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
     -days 30 -sha256 -extfile "$pki/tsa.ext" -out "$pki/tsa.pem"
echo 01 >"$pki/tsa.serial"
cat >"$pki/tsa.cnf" <<CNF
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = $pki/tsa.serial
signer_cert = $pki/tsa.pem
signer_key = $pki/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
python3 "$src/tests/release/timestamp_server.py" "$pki/tsa.cnf" >"$pki/tsa.port" &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 50); do [ -s "$pki/tsa.port" ] && break; sleep 0.1; done
port=$(cat "$pki/tsa.port")
[ -n "$port" ] || fail "the time-stamp server did not start"
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

build_package "$tree" "$bld" -DSIGN_CERT="$pki/signer.pem" -DSIGN_KEY= \
  -DSIGN_PKCS11_MODULE="$module" -DSIGN_PKCS11_KEY="$key" -DSIGN_PASSWORD_FILE="$pki/pin.txt" \
  -DSIGN_TIMESTAMP_URL="http://127.0.0.1:1/;http://127.0.0.1:$port/"
kill $tsa_pid 2>/dev/null || true
verify "$pkg" || { echo "$verify_log"; fail "the package signed on the token does not verify"; }
grep -q "KAVRO Test Signer" <<<"$verify_log" || { echo "$verify_log"; fail "signer not named"; }
grep -q "Timestamp Server Signature verification: ok" <<<"$verify_log" ||
  { echo "$verify_log"; fail "no verified time stamp"; }
grep -rlaF "$pin" "$bld" "$bld".*.log && fail "the PIN is in the files above"
if [ -n "${4:-}" ]; then
  rm -rf "$4"
  mkdir -p "$4"
  cp "$pkg" "$4/"
  cp -r "$bld/standin-payload" "$4/standin-payload"
fi
echo "ok: signed with a key on a PKCS#11 token, time-stamped by the second server, verifies"

# refused <what> <cause> [cmake -D options]: configuring with these options (none:
# building only) fails, saying the cause, and leaves no package that looks up to date.
refused() {
  local what=$1 cause=$2
  shift 2
  local out
  if [ $# -gt 0 ]; then
    out=$(build_package "$tree" "$bld" "$@" 2>&1) && fail "$what: the build succeeded"
  else
    out=$(cmake --build "$bld" -j2 --target QNVPDSetup 2>&1) && fail "$what: the build succeeded"
  fi
  # CMake wraps the message's lines.
  tr -s '[:space:]' ' ' <<<"$out" | grep -qF "$cause" ||
    { echo "$out"; fail "$what: the cause was not given"; }
  [ ! -e "$pkg" ] && [ ! -e "$bld/unsigned/QNVPDSetup.exe" ] || fail "$what: a package was left"
}
printf 'wrong-pin\n' >"$pki/pin.txt"
refused "a wrong PIN" "the token refused the PIN in SIGN_PASSWORD_FILE"
printf '%s\n' "$pin" >"$pki/pin.txt"
refused "a wrong key URI" "no private key on the token matches SIGN_PKCS11_KEY" \
  -DSIGN_PKCS11_KEY="pkcs11:token=qnvpd-test;object=nosuch;type=private"
refused "a missing module" "SIGN_PKCS11_MODULE: no such file" \
  -DSIGN_PKCS11_KEY="$key" -DSIGN_PKCS11_MODULE="$scratch/no-such-module.so"
refused "a PIN in the URI" "SIGN_PKCS11_KEY must not carry the PIN" \
  -DSIGN_PKCS11_MODULE="$module" -DSIGN_PKCS11_KEY="$key;pin-value=$pin"
grep -laF "$pin" "$bld/CMakeCache.txt" "$bld".*.log && fail "the PIN given in the URI was kept"
echo "ok: a wrong PIN, key URI or module and a PIN in the URI are refused with the cause"

# ------------------------------------------------------------ signing switched off
build_package "$tree" "$bld" -DSIGN_CERT= -DSIGN_KEY= -DSIGN_PKCS11_MODULE= -DSIGN_PKCS11_KEY= \
  -DSIGN_PASSWORD_FILE= -DSIGN_TIMESTAMP_URL=
verify "$pkg" && fail "switching signing off left a signed package"
[ "$(hash "$pkg")" = "$plain" ] || fail "switching signing off did not give the unsigned program"
echo "ok: switching signing off gives the unsigned program back"
