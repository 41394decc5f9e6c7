#!/usr/bin/env bash
# What the program does with its command line. --version names the version and the origin
# compiled in, --help the options; both on stdout with status 0, without a display. Anything
# else (the autostart switch, an argument the program does not know) changes nothing: the
# program starts and shows its window, says what it ignored only on the step log, and a stop
# signal ends it with status 0.
# usage: command_line.sh TARVIK ORIGIN VERSION   (on an X display of its own: xvfb_run.sh)
set -euo pipefail
tarvik=$1 origin=$2 version=$3 key=${4:-none (installers are not signature-checked)}
failures=0
rows=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-command-line-XXXXXX")
program_pid=
cleanup() {
  # A run that failed half-way: its whole process group (the web view's processes too).
  if [[ -n "$program_pid" ]]; then kill -KILL -- "-$program_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# ---- Answers without a display ----

run() { env -u DISPLAY -u WAYLAND_DISPLAY "$tarvik" "$@" 2>&1; }

expected=$(printf 'tarvik %s\nservice origin: %s\ninstaller key: %s' "$version" "$origin" "$key")
status=0
output=$(run --version) || status=$?
[[ $status == 0 && "$output" == "$expected" ]] || fail "--version: status $status: $output"

status=0
output=$(run --help) || status=$?
((status == 0)) || fail "--help: status $status"
for piece in "Usage: tarvik [--verbose] [--inspect]" "--verbose" "TARVIK_LOG=1" "--inspect" \
  "TARVIK_INSPECTOR=1" "--version" "(such as /autostart) is ignored" "Service: $origin"; do
  [[ "$output" == *"$piece"* ]] || fail "--help lacks \"$piece\": $output"
done
help=$output
# The program's own options come out wherever they stand, before any other argument counts.
for arguments in "-h" "--verbose -h" "/autostart --help" "--bogus --help"; do
  # shellcheck disable=SC2086 # the arguments are split on purpose
  [[ "$(run $arguments)" == "$help" ]] || fail "\"$arguments\" does not answer as --help"
done
# shellcheck disable=SC2086
[[ "$(run extra --version)" == "$expected" ]] || fail "\"extra --version\" does not answer as --version"

# ---- Arguments that change nothing: the program starts all the same ----

if [[ -z "${DISPLAY:-}" ]]; then
  echo "FAIL: the start-up rows need an X display (run this through xvfb_run.sh)"
  exit 1
fi

# Starts the program with the arguments (an array of words), waits for its window, ends it with
# SIGTERM and checks the status, and what its stderr says about the arguments.
#   $1: a name for the row; $2: "log" to turn the step log on, "quiet" not to;
#   $3: a piece stderr must hold ("" for none); $4: pieces it must not hold, joined by "|";
#   the rest: the arguments.
start_row() {
  local name=$1 log=$2 must=$3 must_not=$4
  shift 4
  # A plain folder name: WebKit's sandbox passes its cache folder on in a D-Bus address, where a
  # comma in the path ends it (the web view then fails to start).
  rows=$((rows + 1))
  local run="$work/row$rows"
  mkdir -p "$run/app" "$run/home"
  cp "$tarvik" "$run/app/tarvik"
  # A service that cannot be reached: the built-in page shows, no network beyond loopback.
  printf '[root]\ndownloader_id=0\napi_url=http://127.0.0.1:9/info\n' >"$run/app/config.ini"
  local switches=()
  if [[ $log == log ]]; then switches=(TARVIK_LOG=1); fi
  # No session bus and none started on the side (D-Bus's autolaunch would leave one behind),
  # no accessibility bus; a home of its own; a process group of its own.
  env -u WAYLAND_DISPLAY -u TARVIK_LOG GDK_BACKEND=x11 HOME="$run/home" \
    XDG_CONFIG_HOME="$run/config" XDG_CACHE_HOME="$run/cache" XDG_DATA_HOME="$run/data" \
    XDG_STATE_HOME="$run/state" NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS="unix:path=$run/no-bus" \
    "${switches[@]}" setsid "$run/app/tarvik" "$@" >"$run/stderr" 2>&1 &
  program_pid=$!
  local shown=
  # Waits for the window, not for a time: a busy machine may take long to show it. The test's
  # own time limit ends a run that never shows one.
  while kill -0 "$program_pid" 2>/dev/null; do
    if xdotool search --onlyvisible --pid "$program_pid" >/dev/null 2>&1; then
      shown=yes
      break
    fi
    sleep 0.1
  done
  local status=0
  if [[ -n "$shown" ]]; then kill -TERM "$program_pid"; fi
  wait "$program_pid" || status=$?
  kill -KILL -- "-$program_pid" 2>/dev/null || true
  program_pid=
  local said before=$failures
  said=$(cat "$run/stderr")
  [[ -n "$shown" ]] || fail "$name: no window; status $status: $said"
  ((status == 0)) || fail "$name: status $status after SIGTERM: $said"
  if [[ -n "$must" && "$said" != *"$must"* ]]; then fail "$name: stderr lacks \"$must\": $said"; fi
  local piece pieces
  IFS='|' read -ra pieces <<<"$must_not"
  for piece in "${pieces[@]}"; do
    if [[ "$said" == *"$piece"* ]]; then fail "$name: stderr holds \"$piece\": $said"; fi
  done
  if ((failures == before)); then echo "$name: started and ended as expected"; fi
}

start_row "no arguments" log "ms] config:" "ignored"
start_row "autostart" log "ms] config:" "ignored" /autostart
start_row "autostart, another letter case" log "ms] config:" "ignored" /AutoStart
start_row "an unknown option, said on the log" log \
  'ms] command line: "--bogus" ignored (see tarvik --help)' "" --bogus
start_row "an unknown argument, silent without the log" quiet "" "extra" extra
start_row "several, with an option of GTK's" log \
  'ms] command line: "two words" ignored' "/autostart|--display" \
  --display="$DISPLAY" /autostart "two words" --inspect-not

if ((failures > 0)); then exit 1; fi
echo "the command line is answered as expected"
