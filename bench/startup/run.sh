#!/bin/sh
# Start-up time and memory of the assistant beside the floor (a bare WebKitGTK window with the
# same web view settings) and surf, a minimal browser on the same WebKitGTK,
# on one page from one loopback server, alternating runs, on a virtual X server with its own
# session bus. Also prints the stripped size of the executable.
# Usage: [ROUNDS=n] [SETTLE_MS=ms] [JSON=file] run.sh [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-test}" && pwd)

cmake --build "$build" --target tarvik tarvik-bench-floor tarvik-bench-loop-stall >/dev/null
# Event reports go to the origin compiled into this build; the bench answers them there.
origin=$(sed -n 's/^TARVIK_SERVICE_ORIGIN:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$origin" ] || origin=http://127.0.0.1:47810

# The bench brings its own needs, which the assistant's do not include: it runs the program as the
# demo does (a virtual X server, a session bus, node), plus surf to compare with and strip.
"$here/../../tools/install-deps.sh" --demo surf binutils

echo "tarvik built from $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?') in $build, events to $origin"
# The environment both programs see; unset DBUS address so that each bench has its own bus.
unset DBUS_SESSION_BUS_ADDRESS
# -noreset: each round starts a program as the last one left; a reset then could drop it.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  dbus-run-session -- node "$here/startup_bench.mjs" \
  --tarvik "$build/tarvik" --origin "$origin" --surf "$(command -v surf)" \
  --floor "$build/tarvik-bench-floor" --stall "$build/tarvik-bench-loop-stall" \
  --rounds "${ROUNDS:-10}" --settle "${SETTLE_MS:-500}" ${JSON:+--json "$JSON"}
