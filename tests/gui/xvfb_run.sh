#!/bin/sh
# Runs a command on a fresh virtual X server with a 1280x1024 screen and no window manager, on a
# session bus of its own, and ends both with it.
# -noreset: by default the server resets whenever its last client leaves, and drops a client
# that is connecting at that moment; a test's own short-lived probe (xdotool) leaving just as
# the program connects then made the program fail with "cannot open the X display".
# The bus: without one, D-Bus starts a session bus for the X display on the side (autolaunch),
# and GTK asks it for an accessibility bus; a run that was ended early left both behind, a dozen
# after a day of test runs. dbus-run-session ends its bus with the command, and the tests need no
# accessibility bus (NO_AT_BRIDGE); a test that needs a bus of its own still sets one up.
NO_AT_BRIDGE=1
export NO_AT_BRIDGE
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" dbus-run-session -- "$@"
