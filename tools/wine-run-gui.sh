#!/bin/sh
# Runs a Windows program with windows under Wine on a fresh virtual X server (1280x1024, no window
# manager), as tests/gui/xvfb_run.sh does for the Linux window tests.
# Usage: tools/wine-run-gui.sh program.exe [arguments...]
here=$(dirname "$0")
exec "$here/../tests/gui/xvfb_run.sh" "$here/wine-run.sh" "$@"
