#!/usr/bin/env bash
# What the program answers on its command line without a display: --version names the version
# and the origin compiled in, --help the options; both on stdout with status 0.
# usage: command_line.sh TARVIK ORIGIN VERSION
set -euo pipefail
tarvik=$1 origin=$2 version=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run() { env -u DISPLAY -u WAYLAND_DISPLAY "$tarvik" "$@" 2>&1; }

expected=$(printf 'tarvik %s\nservice origin: %s' "$version" "$origin")
status=0
output=$(run --version) || status=$?
[[ $status == 0 && "$output" == "$expected" ]] || fail "--version: status $status: $output"

status=0
output=$(run --help) || status=$?
((status == 0)) || fail "--help: status $status"
for piece in "Usage: tarvik [--verbose] [--inspect]" "--verbose" "TARVIK_LOG=1" "--inspect" \
  "TARVIK_INSPECTOR=1" "--version" "Service: $origin"; do
  [[ "$output" == *"$piece"* ]] || fail "--help lacks \"$piece\": $output"
done
# -h is --help; the program's own options come out wherever they stand.
[[ "$(run --verbose -h)" == "$output" ]] || fail "--verbose -h differs from --help"

if ((failures > 0)); then exit 1; fi
echo "--version and --help as expected"
