#!/bin/sh
# Runs a command on a fresh virtual X server with a 1280x1024 screen and no window manager.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
