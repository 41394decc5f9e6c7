#!/usr/bin/env bash
# Runs a Windows program under Wine with everything Wine keeps (its prefix, HOME, the XDG
# folders) under the build folder, never in the user's home. CMake uses it as the emulator of
# the Windows build, so tests and their discovery run through it.
# Usage: tools/wine-run.sh program.exe [arguments...]
# The state goes to $TARVIK_WINE_ROOT, or else to "wine" in the nearest folder upwards that holds
# a CMakeCache.txt (CTest runs tests inside the build folder).
set -euo pipefail
root=${TARVIK_WINE_ROOT:-}
if [[ -z "$root" ]]; then
  dir=$PWD
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
  if [[ "$dir" == / ]]; then
    echo "wine-run: not inside a build folder; set TARVIK_WINE_ROOT" >&2
    exit 2
  fi
  root="$dir/wine"
fi
# Programs with windows (run on a virtual X server, with DISPLAY set) get a prefix of their own:
# Wine's desktop process belongs to the X server it started on, which goes away after each test,
# so that prefix is shut down after every run, and its tests run one at a time.
gui=false
if [[ -n "${DISPLAY:-}" ]]; then
  gui=true
  root="$root/gui"
fi
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime"
chmod 700 "$root/runtime"
export WINEPREFIX="$root/prefix" WINEARCH=win64 HOME="$root/home" \
  XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache" \
  XDG_RUNTIME_DIR="$root/runtime"
# No .NET or browser engine installers, no menu entries in the (build folder's) home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

# Tests run in parallel: the first one makes the prefix while the others wait for it.
if [[ ! -f "$WINEPREFIX/.tarvik-ready" ]]; then
  exec 9>"$root/prefix.lock"
  flock 9
  if [[ ! -f "$WINEPREFIX/.tarvik-ready" ]]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver --wait || true
    touch "$WINEPREFIX/.tarvik-ready"
  fi
  exec 9>&-
fi

# Console programs write "\r\n" under Wine; test discovery and logs want plain lines.
set +e
wine "$@" | sed -u 's/\r$//'
status=${PIPESTATUS[0]}
if $gui; then wineserver --kill >/dev/null 2>&1; fi
exit "$status"
