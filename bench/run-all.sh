#!/bin/sh
# Runs every benchmark against one build folder. Usage: run-all.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build-test}" && pwd)
for script in "$here"/*/run.sh; do
  echo "== $(basename "$(dirname "$script")")"
  "$script" "$build"
done
