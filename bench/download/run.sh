#!/bin/sh
# Compares the installer transfer with `curl -o` on a 1 GiB loopback download and reports its
# memory for 64 MiB and 1 GiB and its progress-message rate.
# Usage: [ROUNDS=n] run.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../../build-test"}
cmake --build "$build" --target transfer_bench >/dev/null
# A folder on disk, not in memory: the 1 GiB file must not count against anyone's RAM.
folder=$(mktemp -d /var/tmp/tarvik-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
"$build/bench/download/transfer_bench" "$folder" "${ROUNDS:-3}"
