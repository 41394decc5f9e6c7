#!/usr/bin/env bash
# Makes the code-signed programs the signature tests judge, with certificates made here and used
# nowhere else: each a fresh self-signed code signing certificate whose key is thrown away.
#   vendor.exe    signed by "Tarvik Test Vendor"
#   other.exe     signed by "Other Vendor Ltd"
#   unsigned.exe  the program as built
#   tampered.exe  vendor.exe with one byte of its code changed after signing
#   notes.txt     no program at all
# usage: sign_fixtures.sh SIGNEE_EXE OUT_DIR
set -euo pipefail
signee=$1 out=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-sign-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# sign NAME OUTPUT: a certificate for NAME, and the signee signed with it.
sign() {
  local name=$1 output=$2
  cat >"$work/request.cnf" <<CONFIG
[req]
distinguished_name = subject
prompt = no
[subject]
CN = $name
O = $name
[code_signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
CONFIG
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/key.pem" \
    -out "$work/cert.pem" -config "$work/request.cnf" -extensions code_signing 2>/dev/null
  rm -f "$output"
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Tarvik test installer" \
    -in "$signee" -out "$output" >/dev/null
}

sign "Tarvik Test Vendor" "$out/vendor.exe"
sign "Other Vendor Ltd" "$out/other.exe"
cp "$signee" "$out/unsigned.exe"
cp "$out/vendor.exe" "$out/tampered.exe"
# A byte a third into the file lies in the code, which the signature's digest covers.
size=$(stat -c %s "$out/tampered.exe")
printf '\xcc' | dd of="$out/tampered.exe" bs=1 seek=$((size / 3)) conv=notrunc status=none
cmp -s "$out/vendor.exe" "$out/tampered.exe" && { echo "the byte was already 0xCC" >&2; exit 1; }
printf 'not a program\r\n' >"$out/notes.txt"
