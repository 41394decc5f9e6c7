#!/bin/sh
# Compares the installer transfer (one and four connections) with `curl -o` on loopback: 1 GiB
# unthrottled (with its memory for 64 MiB and 1 GiB, and the disk's own pace from `dd`), 64 MiB at
# 4 MiB/s per connection, and 256 MiB with every connection dropped after 16 MiB, beside the same
# download without drops. Then several connections against Debian's nginx over HTTP/1.1 and
# HTTP/2, each TCP connection capped at 4 MiB/s, beside `curl -o` and `aria2c -x4`. Medians of
# ROUNDS rounds.
# Usage: [ROUNDS=n] run.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../../build-test"}
cmake --build "$build" --target transfer_bench >/dev/null
# The servers and clients to compare with, and openssl for the HTTPS host's certificate.
"$here/../../tools/install-deps.sh" curl nginx libnginx-mod-stream aria2 openssl nodejs
# A folder on disk, not in memory: the 1 GiB file must not count against anyone's RAM.
folder=$(mktemp -d /var/tmp/tarvik-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
"$build/bench/download/transfer_bench" "$folder" "${ROUNDS:-3}"
echo
echo "several connections, each TCP connection shaped"
"$here/../common/bench-host.sh" "$folder/host" node "$here/shaped_bench.mjs" \
  --job "$build/bench/download/transfer_bench" --rounds "${ROUNDS:-3}" --folder "$folder"
