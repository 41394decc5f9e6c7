#!/usr/bin/env bash
# Takes the README's picture of the assistant: runs the demo (the program against the bundled demo
# service) on a virtual X server of its own, waits until the window is on screen with the page
# drawn, brings it to the state asked for with the keyboard, and saves the window, cropped, as a
# PNG. Needs only what `make deps` installs (Xvfb, xdotool, x11-utils, dbus, node).
#
# usage: tools/take-screenshot.sh [--state idle|downloading|finished] [OUTPUT.png]
#   --state downloading (the default) shows the progress bar part-way through the download.
#   OUTPUT defaults to docs/screenshot.png.
# Environment: BUILD (build-test), SERVICE_PORT (47810): as for `make demo`.
set -euo pipefail

cd "$(dirname "$0")/.."
state=downloading
output=docs/screenshot.png
while (($#)); do
  case "$1" in
    --state) state=${2:?--state needs idle, downloading or finished}; shift 2 ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) output=$1; shift ;;
  esac
done
case "$state" in idle | downloading | finished) ;; *) echo "unknown state: $state" >&2; exit 2 ;; esac

port=${SERVICE_PORT:-47810}
build=${BUILD:-build-test}
origin="http://127.0.0.1:$port"
product="Tarvik Demo"
installer_size=$((12 * 1024 * 1024))
# Slow enough that the download is still under way while the picture is taken.
rate=$((3 * 512 * 1024))

say() { printf 'screenshot: %s\n' "$*"; }
die() { say "$*" >&2; exit 1; }

# The service origin is compiled in: the program only talks to the demo service on that port.
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja "-DTARVIK_SERVICE_ORIGIN=$origin"
elif ! grep -qx "TARVIK_SERVICE_ORIGIN:STRING=$origin" "$build/CMakeCache.txt"; then
  die "$build is built for another service origin; use BUILD=... or SERVICE_PORT=..."
fi
cmake --build "$build" --target tarvik tarvik-demo-service >/dev/null

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  die "port $port is in use; the demo service needs it (is a demo running?)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-screenshot.XXXXXX")
# Each process runs in a process group of its own, so whatever it starts ends with it.
groups=()
stop_all() {
  local group
  for group in "${groups[@]}"; do kill -TERM -- "-$group" 2>/dev/null || true; done
  for group in "${groups[@]}"; do
    for _ in $(seq 30); do kill -0 -- "-$group" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$group" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
set -m # background jobs get process groups of their own

# Polls a command until it succeeds; gives up after $1 seconds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || die "timed out waiting for $what"
    sleep 0.1
  done
}

# -noreset: the xdotool probes below come and go; a reset when the last one leaves would drop
# the program if it were connecting at that moment.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset -fbdir "$work" \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
groups+=($!)
disown # ended by stop_all, without the shell reporting it
wait_for 10 "Xvfb" grep -qs '[0-9]' "$work/display"
DISPLAY=":$(tr -dc 0-9 <"$work/display")"
export DISPLAY

"$build/tarvik-demo-service" --port "$port" --page-dir "$PWD/page" --rate "$rate" \
  --installer-size "$installer_size" --product-name "$product" \
  --events-file "$work/events.jsonl" >"$work/service.log" 2>&1 &
groups+=($!)
disown # ended by stop_all, without the shell reporting it
service_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
wait_for 10 "the demo service" service_answers

mkdir -p "$work/app" "$work/Downloads" "$work/config" "$work/home"
cp "$build/tarvik" "$work/app/tarvik"
printf '[root]\ndownloader_id=1001\n' >"$work/app/config.ini"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$work/Downloads" >"$work/config/user-dirs.dirs"
env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u GDK_SCALE -u GDK_DPI_SCALE \
  GDK_BACKEND=x11 HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
  XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" NO_AT_BRIDGE=1 \
  dbus-run-session -- "$work/app/tarvik" >"$work/tarvik.log" 2>&1 &
groups+=($!)
disown # ended by stop_all, without the shell reporting it

# The window is kept off-screen until the page has sized it.
window=
window_on_screen() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$product\$" 2>/dev/null); do
    if xwininfo -id "$id" | grep -q 'Absolute upper-left X: *[0-9]'; then
      window=$id
      return 0
    fi
  done
  return 1
}
wait_for 20 "the window on screen" window_on_screen
wait_for 10 "the page to report itself shown" grep -q '"event":"page_shown"' "$work/events.jsonl"

# The screen unchanged for half a second: the web view has painted the page at its new size
# (the window is mapped and sized before the page is laid out and drawn again).
screen_settled() {
  local now
  now=$(cksum <"$work/Xvfb_screen0")
  if [[ "$now" == "${last_screen:-}" ]]; then
    ((++same_screens >= 5)) && return 0
  else
    last_screen=$now
    same_screens=0
  fi
  return 1
}

# The pointer of a display without a window manager sits in the middle of the screen, over
# the window; the corner keeps it out of the picture and off the page's hover styles.
xdotool mousemove 0 0

installer="$work/Downloads/tarvik-demo-setup.run"
# The download goes to a hidden temporary file beside the installer until it is complete.
download_past() {
  local part
  for part in "$(dirname "$installer")/.$(basename "$installer")".*.part; do
    [[ $(stat -c %s "$part" 2>/dev/null || echo 0) -ge $1 ]] && return 0
  done
  return 1
}
if [[ "$state" != idle ]]; then
  # The keyboard user's way: the page gives Download the focus from the start.
  xdotool windowfocus --sync "$window"
  xdotool key Return
  if [[ "$state" == downloading ]]; then
    # Far enough in for the page to show the speed and the time left.
    wait_for 30 "the download to pass 40 %" download_past $((installer_size * 2 / 5))
  else
    wait_for 60 "the download to finish" test -f "$installer"
  fi
fi

mkdir -p "$(dirname "$output")"
# Crops the screen to the window. With --need-content it refuses (status 3) a picture of nearly
# one colour: a page not drawn yet.
crop_window() {
  # The window's place and size stay set for the closing message.
  read -r left top width height < <(xwininfo -id "$window" | awk -F: '
    /Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /Width/ {w=$2} /Height/ {h=$2} END {print x+0, y+0, w+0, h+0}')
  cp "$work/Xvfb_screen0" "$work/screen.xwd"
  node tools/demo-service/xwd-to-png.mjs --crop "$left,$top,$width,$height" "$@" \
    "$work/screen.xwd" "$output"
}
if [[ "$state" == downloading ]]; then
  crop_window
else
  # Settled and drawn; a settled blank window is a page still on its way.
  drawn() {
    wait_for 10 "a settled screen" screen_settled
    crop_window --need-content
  }
  wait_for 15 "the page drawn in the window" drawn
fi
say "$output: the window ($width x $height) in the '$state' state"
