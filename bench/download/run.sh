#!/bin/sh
# Compares the installer transfer (one and four connections) with `curl -o` on loopback: 1 GiB
# unthrottled (with its memory for 64 MiB and 1 GiB), 64 MiB at 4 MiB/s per connection, and
# 256 MiB with every connection dropped after 16 MiB, beside the same download without drops.
# Medians of ROUNDS rounds.
# Usage: [ROUNDS=n] run.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../../build-test"}
cmake --build "$build" --target transfer_bench >/dev/null
# A folder on disk, not in memory: the 1 GiB file must not count against anyone's RAM.
folder=$(mktemp -d /var/tmp/tarvik-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
"$build/bench/download/transfer_bench" "$folder" "${ROUNDS:-3}"
