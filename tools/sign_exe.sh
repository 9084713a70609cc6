#!/usr/bin/env bash
# Signs the Windows program with Authenticode (osslsigncode) as the release
# zip takes it: IN stays as it is (unsigned, the bytes a rebuild gives), OUT is
# the signed copy. Without a key it copies IN to OUT and says that the release
# is unsigned.
# The maintainer's key, from the environment:
#   VORNHOLD_SIGN_PKCS11_MODULE  the token's PKCS#11 module (code-signing keys
#                                come on hardware tokens), with
#   VORNHOLD_SIGN_KEY            the key on it, as a PKCS#11 URI, and
#   VORNHOLD_SIGN_CERT           the certificate chain (PEM), or
#   VORNHOLD_SIGN_PKCS12         a PKCS#12 file holding key and certificates;
#   VORNHOLD_SIGN_PASSWORD_FILE  the token's PIN or the file's password, read
#                                from this file, or else from
#   VORNHOLD_SIGN_PASSWORD       (never put on a command line);
#   VORNHOLD_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, so that the
#                                signature outlives the certificate.
# Usage: tools/sign_exe.sh IN OUT
set -euo pipefail
in=$1 out=$2
mkdir -p "$(dirname "$out")"
rm -f "$out"
if [ -n "${VORNHOLD_SIGN_PKCS11_MODULE:-}" ]; then
  key=(-pkcs11module "$VORNHOLD_SIGN_PKCS11_MODULE" -certs "${VORNHOLD_SIGN_CERT:?}"
       -key "${VORNHOLD_SIGN_KEY:?}")
elif [ -n "${VORNHOLD_SIGN_PKCS12:-}" ]; then
  key=(-pkcs12 "$VORNHOLD_SIGN_PKCS12")
else
  cp "$in" "$out"
  echo "sign_exe: no signing key given (VORNHOLD_SIGN_PKCS11_MODULE or VORNHOLD_SIGN_PKCS12):" \
       "$(basename "$out") goes into the release unsigned" >&2
  exit 0
fi
stamp=()
[ -z "${VORNHOLD_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$VORNHOLD_SIGN_TIMESTAMP_URL")
password() {
  if [ -n "${VORNHOLD_SIGN_PASSWORD_FILE:-}" ]; then cat "$VORNHOLD_SIGN_PASSWORD_FILE"
  else printf '%s' "${VORNHOLD_SIGN_PASSWORD:-}"; fi
}
password | osslsigncode sign "${key[@]}" -readpass - -h sha256 -n "Vornhold String Extractor" \
  "${stamp[@]}" -in "$in" -out "$out" >&2
echo "sign_exe: signed $(basename "$out")" >&2
