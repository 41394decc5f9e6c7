#!/bin/sh
# Runs a command on a fresh virtual X server with a 1280x1024 screen and no window manager.
# -noreset: by default the server resets whenever its last client leaves, and drops a client
# that is connecting at that moment; a test's own short-lived probe (xdotool) leaving just as
# the program connects then made the program fail with "cannot open the X display".
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" "$@"
