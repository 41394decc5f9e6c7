#!/bin/sh
# Start-up time and memory of the assistant beside the floor (a bare WebKitGTK window with the
# same web view settings) and surf, a minimal browser on the same WebKitGTK, on one page from one
# loopback server and again over HTTPS a 50 ms round trip away, alternating runs, on a virtual X
# server with its own session bus; the lateness of the assistant's loop, idle, under 100 event
# reports and during a 1 GiB download; and the stripped size of the release executable.
# Usage: [ROUNDS=n] [SETTLE_MS=ms] [STALL_RUNS=n] [PROGRAMS=tarvik,floor,...] [JSON=file] run.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-test}" && pwd)

cmake --build "$build" --target tarvik tarvik-bench-floor tarvik-bench-loop-stall >/dev/null
# Event reports go to the origin compiled into this build; the bench answers them there.
origin=$(sed -n 's/^TARVIK_SERVICE_ORIGIN:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$origin" ] || origin=http://127.0.0.1:47810

# The bench brings its own needs, which the assistant's do not include: it runs the program as the
# demo does (a virtual X server, a session bus, node), plus surf to compare with, strip, nginx with
# its stream module for the HTTPS service and the download, and openssl for its certificate.
"$here/../../tools/install-deps.sh" --demo surf binutils nginx libnginx-mod-stream openssl

# The executable a vendor ships: the release build of tools/vendor-bundle.sh, in a folder of this
# build's (only the first run compiles all of it).
# On disk: a download run writes 1 GiB there, which a /tmp in memory would hold in RAM.
scratch=$(mktemp -d /var/tmp/tarvik-startup.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
"$here/../../tools/vendor-bundle.sh" --origin https://downloads.example.test --downloader-id 1 \
  --build "$build/bench/release" --dist "$scratch/dist" >/dev/null

echo "tarvik built from $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?') in $build, events to $origin"
# The environment every program sees; unset DBUS address so that each bench has its own bus.
unset DBUS_SESSION_BUS_ADDRESS
# -noreset: each round starts a program as the last one left; a reset then could drop it.
"$here/../common/bench-host.sh" "$scratch/host" \
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  dbus-run-session -- node "$here/startup_bench.mjs" \
  --tarvik "$build/tarvik" --origin "$origin" --surf "$(command -v surf)" \
  --floor "$build/tarvik-bench-floor" --stall "$build/tarvik-bench-loop-stall" \
  --release "$scratch/dist/tarvik-1/tarvik" --folder "$scratch" \
  --rounds "${ROUNDS:-10}" --settle "${SETTLE_MS:-500}" --stall-runs "${STALL_RUNS:-3}" \
  ${PROGRAMS:+--programs "$PROGRAMS"} ${JSON:+--json "$JSON"}
