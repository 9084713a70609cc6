#!/usr/bin/env bash
# Signs the Windows program the way a release does (tools/sign_exe.sh), with a
# throwaway certificate and key made here: once with the key on a SoftHSM
# token through PKCS#11, as a hardware token holds a maintainer's key, and once
# from a PKCS#12 file. Everything stays in DIR.
# Usage: sign_with_test_key.sh EXE DIR   (makes DIR/signed-pkcs11.exe, DIR/signed-pkcs12.exe)
set -euo pipefail
exe=$1 dir=$2
sign=$(dirname "$0")/../tools/sign_exe.sh
rm -rf "$dir"
mkdir -p "$dir/tokens"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" -days 2 \
  -subj "/CN=vornhold-extract test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
export SOFTHSM2_CONF=$dir/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$dir/tokens" >"$SOFTHSM2_CONF"
printf '1234' >"$dir/pin"
softhsm2-util --init-token --free --label vornhold-test --pin 1234 --so-pin 4321 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$dir/key.pem" -out "$dir/key.p8"
softhsm2-util --import "$dir/key.p8" --token vornhold-test --label signing --id 01 --pin 1234 \
  >/dev/null
VORNHOLD_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so \
VORNHOLD_SIGN_KEY="pkcs11:token=vornhold-test;object=signing;type=private" \
VORNHOLD_SIGN_CERT=$dir/cert.pem VORNHOLD_SIGN_PASSWORD_FILE=$dir/pin \
  bash "$sign" "$exe" "$dir/signed-pkcs11.exe"
export P12_PASSWORD=throwaway
openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/cert.pem" -out "$dir/key.p12" \
  -passout env:P12_PASSWORD
VORNHOLD_SIGN_PKCS12=$dir/key.p12 VORNHOLD_SIGN_PASSWORD=$P12_PASSWORD \
  bash "$sign" "$exe" "$dir/signed-pkcs12.exe"
