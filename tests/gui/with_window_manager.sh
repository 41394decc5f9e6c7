#!/bin/sh
# Runs a command on the current X display under a window manager, as on a user's desktop, and
# ends the window manager with it. Run inside xvfb_run.sh.
# openbox: small, already what the page scenarios use, and a full EWMH window manager that
# places, reparents and constrains windows as the desktops do; it does no compositing, so the
# server's own pixels are what a screenshot shows.
set -u
home=$(mktemp -d)
HOME=$home XDG_CONFIG_HOME=$home XDG_CACHE_HOME=$home openbox --sm-disable >"$home/openbox.log" 2>&1 &
manager=$!
# Until it has taken over the screen (it says so on the root window), within 10 s.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id # 0x'; do
  if ! kill -0 "$manager" 2>/dev/null || [ "$tries" -ge 200 ]; then
    echo "openbox did not take over the screen:" >&2
    cat "$home/openbox.log" >&2
    kill "$manager" 2>/dev/null
    rm -rf "$home"
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done
"$@"
status=$?
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
rm -rf "$home"
exit "$status"
