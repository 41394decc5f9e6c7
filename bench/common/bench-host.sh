#!/bin/sh
# Runs a command where the bench's own HTTPS host exists: the name tarvik-bench.test resolves to
# 127.0.0.1, and a certificate authority made for the bench is trusted as the system's own, so
# that the assistant, WebKit, curl and aria2c all check the bench server's certificate as they
# would a vendor's, with no option that turns the check off.
#
# Both live in a private mount namespace: the system's /etc/hosts and CA bundle are covered,
# for this command and its children only, by copies that add the bench's name and authority. As
# root the namespace is made directly, otherwise inside a user namespace (unshare -r).
#
# The authority, and the server's certificate and key that nginx serves, are made once in the
# given folder (openssl); the command finds them through the environment:
#   TARVIK_BENCH_HOST  the host name, TARVIK_BENCH_CERT and TARVIK_BENCH_KEY the server's files.
# Usage: bench-host.sh <folder> <command> [arguments...]
set -eu
host=tarvik-bench.test
folder=$1
shift

if [ "${TARVIK_BENCH_INSIDE:-}" = "$folder" ]; then
  mount --bind "$folder/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
  mount --bind "$folder/hosts" /etc/hosts
  unset TARVIK_BENCH_INSIDE
  exec "$@"
fi

mkdir -p "$folder"
if [ ! -s "$folder/server.crt" ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj "/CN=Tarvik bench authority" -keyout "$folder/ca.key" -out "$folder/ca.crt" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
    2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$host" \
    -keyout "$folder/server.key" -out "$folder/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    "$host" >"$folder/server.ext"
  openssl x509 -req -in "$folder/server.csr" -CA "$folder/ca.crt" -CAkey "$folder/ca.key" \
    -CAcreateserial -days 30 -extfile "$folder/server.ext" -out "$folder/server.crt" 2>/dev/null
fi
cat /etc/ssl/certs/ca-certificates.crt "$folder/ca.crt" >"$folder/ca-bundle.crt"
{
  cat /etc/hosts
  printf '127.0.0.1 %s\n' "$host"
} >"$folder/hosts"

export TARVIK_BENCH_HOST="$host" TARVIK_BENCH_CERT="$folder/server.crt" \
  TARVIK_BENCH_KEY="$folder/server.key" TARVIK_BENCH_INSIDE="$folder"
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --mount --propagation private "$0" "$folder" "$@"
fi
exec unshare --map-root-user --mount --propagation private "$0" "$folder" "$@"
