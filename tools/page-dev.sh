#!/usr/bin/env bash
# `make page-dev`: serves page/ with the demo service and opens the reference page in an ordinary
# browser with the page kit's simulator, which stands in for the program. Edit the page, reload
# the browser: the simulator's panel (or ?tarvik-sim=... in the address) brings every state.
#
# usage: tools/page-dev.sh [-- SERVICE_OPTIONS...]
#   Options after "--" go to the demo service (see `build-test/tarvik-demo-service --help`).
# Environment: SERVICE_PORT (47810; 0 takes a free one), BUILD (build-test), PAGE_DIR (page),
#   DEMO_SERVICE (a demo service program to run instead of building one), PAGE_DEV_OPEN (0: only
#   print the address; by default it is opened with xdg-open when there is a display).
set -euo pipefail

service_args=()
while (($#)); do
  case "$1" in
    --) shift; service_args+=("$@"); break ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) printf 'page-dev: unknown argument %s (service options go after --)\n' "$1" >&2; exit 2 ;;
  esac
done

cd "$(dirname "$0")/.."
port=${SERVICE_PORT:-47810}
build=${BUILD:-build-test}
page_dir=$(realpath "${PAGE_DIR:-page}")
say() { printf 'page-dev: %s\n' "$*"; }

service=${DEMO_SERVICE:-}
if [[ -z "$service" ]]; then
  # Only the demo service is built: the page needs nothing else.
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja "-DTARVIK_SERVICE_ORIGIN=http://127.0.0.1:$port"
  fi
  cmake --build "$build" --target tarvik-demo-service
  service=$build/tarvik-demo-service
fi

output=$(mktemp)
service_pid=
# shellcheck disable=SC2317 # only reached through the EXIT trap, which shellcheck does not follow
stop_all() {
  if [[ -n "$service_pid" ]]; then
    kill -TERM "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  fi
  rm -f "$output"
  return 0
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$service" --port "$port" --page-dir "$page_dir" "${service_args[@]}" >"$output" &
service_pid=$!
origin=
for _ in $(seq 100); do
  if ! kill -0 "$service_pid" 2>/dev/null; then
    cat "$output" >&2
    say "the demo service did not start (is port $port in use? try SERVICE_PORT=...)"
    service_pid=
    exit 1
  fi
  origin=$(sed -n 's|^demo service listening on \(http://127\.0\.0\.1:[0-9]*\)$|\1|p' "$output")
  [[ -n "$origin" ]] && break
  sleep 0.1
done
[[ -n "$origin" ]] || { say "the demo service did not say where it listens"; exit 1; }

# Without product or installer in the address, the page reads them from the service's config.json.
address="$origin/page/index.html?tarvik-sim"
say "the page in the simulator: $address"
say "edit $page_dir, save, reload the browser; the panel in the corner brings every state"
say "(size, speed, no length, a dropped connection, each failure, the save dialog, the window)."
say "the same page in the real program: make demo. Ctrl+C ends this."
if [[ "${PAGE_DEV_OPEN:-1}" != 0 && -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]] && command -v xdg-open >/dev/null; then
  xdg-open "$address" >/dev/null 2>&1 || say "could not open a browser; open the address above"
fi
# The service's own lines (events the page reports, its requests) follow.
tail -n +1 -f "$output" --pid="$service_pid" &
wait "$service_pid"
