#!/usr/bin/env bash
# `make demo`: builds the assistant for the loopback demo service, starts the service, and opens
# the assistant from a run folder (demo-run/) with a config.ini that names the demo product.
# Every event the page reports is printed by the service. With no display, an Xvfb server is
# started for the run.
#
# usage: tools/run-demo.sh [--signed] [-- SERVICE_OPTIONS...]
#   --signed: the whole road of a signed installer. A key pair is made once in demo-run/ with
#   minisign, the assistant is built with its public key (in BUILD-signed), and the service signs
#   the installer with its secret key and serves the signature beside it (`make demo SIGNED=1`).
#   Options after "--" go to the demo service (see `build-test/tarvik-demo-service --help`), e.g.
#     tools/run-demo.sh -- --drop-after 4M          every download breaks at 4 MiB
#     tools/run-demo.sh -- --no-length --rate 200K  no length, so no progress figures
#   `make demo DEMO_ARGS="--drop-after 4M --drop-once"` passes them the same way.
# Environment: SERVICE_PORT (47810), BUILD (build-test), DEMO_SERVICE_ARGS (more service options,
# split at spaces; kept for older scripts).
set -euo pipefail

service_args=()
signed=false
while (($#)); do
  case "$1" in
    --) shift; service_args+=("$@"); break ;;
    --signed) signed=true; shift ;;
    -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) printf 'demo: unknown argument %s (service options go after --)\n' "$1" >&2; exit 2 ;;
  esac
done

cd "$(dirname "$0")/.."
port=${SERVICE_PORT:-47810}
build=${BUILD:-build-test}
origin="http://127.0.0.1:$port"
run_dir=demo-run

say() { printf 'demo: %s\n' "$*"; }

mkdir -p "$run_dir"
key_args=()
if $signed; then
  # The tests' build carries no key (they give the host theirs), so the signed program has a
  # build folder of its own.
  build="$build-signed"
  if [[ ! -f "$run_dir/minisign.key" ]]; then
    say "making the demo's signing key pair in $run_dir (minisign -G)"
    minisign -G -W -p "$run_dir/minisign.pub" -s "$run_dir/minisign.key" >/dev/null
  fi
  key_args=("-DTARVIK_INSTALLER_KEY=$(sed -n 2p "$run_dir/minisign.pub")")
  service_args=(--sign "$run_dir/minisign.key" "${service_args[@]}")
fi
# The service origin is compiled in, so a build folder made for another origin is reconfigured.
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja "-DTARVIK_SERVICE_ORIGIN=$origin" "${key_args[@]}"
elif ! grep -qx "TARVIK_SERVICE_ORIGIN:STRING=$origin" "$build/CMakeCache.txt" ||
  ((${#key_args[@]})); then
  say "configuring $build for the service at $origin"
  cmake -S . -B "$build" "-DTARVIK_SERVICE_ORIGIN=$origin" "${key_args[@]}"
fi
# Only what the demo runs: the tests need not build for the demo to work.
cmake --build "$build" --target tarvik tarvik-demo-service

cp -f "$build/tarvik" "$run_dir/tarvik"
# Kept between runs so the installation id the assistant writes back stays the same.
if [[ ! -f "$run_dir/config.ini" ]]; then
  printf '[root]\ndownloader_id=1001\n' >"$run_dir/config.ini"
fi

service_pid=
xvfb_pid=
# shellcheck disable=SC2317 # only reached through the EXIT trap, which shellcheck does not follow
stop_all() {
  if [[ -n "$service_pid" ]]; then
    kill -TERM "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  fi
  if [[ -n "$xvfb_pid" ]]; then
    kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  fi
  return 0
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A server already listening on the port would answer the check below in place of the demo
# service, which then fails to start, so the assistant would talk to somebody else's server.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  say "port $port is in use (another demo or test?); choose another with SERVICE_PORT=..."
  exit 1
fi
# shellcheck disable=SC2086 # the extra options are meant to be split into words
"$build/tarvik-demo-service" --port "$port" --page-dir "$PWD/page" ${DEMO_SERVICE_ARGS:-} \
  "${service_args[@]}" &
service_pid=$!
for _ in $(seq 100); do
  if ! kill -0 "$service_pid" 2>/dev/null; then
    say "the demo service did not start (its message is above; or is port $port in use? try SERVICE_PORT=...)"
    service_pid=
    exit 1
  fi
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

if [[ -z "${DISPLAY:-}" ]]; then
  display=
  for n in $(seq 99 140); do
    if [[ ! -e "/tmp/.X11-unix/X$n" && ! -e "/tmp/.X$n-lock" ]]; then
      display=":$n"
      break
    fi
  done
  [[ -n "$display" ]] || { say "no free X display number for Xvfb"; exit 1; }
  # -fbdir keeps the screen in a file, which is what the screenshot command below reads;
  # -noreset keeps a client that connects just as another leaves from being dropped.
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset -fbdir "$PWD/$run_dir" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
    sleep 0.1
  done
  export DISPLAY=$display
  say "no display was set, so Xvfb runs on $display: the window is invisible."
  say "to see it, take a screenshot from another terminal:"
  say "  node tools/demo-service/xwd-to-png.mjs $run_dir/Xvfb_screen0 demo.png"
  say "and drive it with xdotool, e.g. DISPLAY=$display xdotool search --name 'Tarvik Demo'"
fi

# "Download" saves into the Downloads folder. A desktop account has one; a bare account (root in
# a container) may not, and would then be asked where to save each time.
user_dirs="${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs"
if [[ ! -d "$HOME/Downloads" ]] && ! grep -qs '^XDG_DOWNLOAD_DIR=' "$user_dirs"; then
  mkdir -p "$HOME/Downloads"
  say "made $HOME/Downloads for the downloaded installer"
fi

say "running $run_dir/tarvik against $origin (close its window to end the demo)"
status=0
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]] && command -v dbus-run-session >/dev/null; then
  # The web view and the file manager calls want a session bus; give the run its own.
  dbus-run-session -- "$run_dir/tarvik" || status=$?
else
  "$run_dir/tarvik" || status=$?
fi
say "the assistant ended with status $status"
exit "$status"
