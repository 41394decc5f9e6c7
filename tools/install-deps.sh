#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, and nothing that is
# already there. Prints what it installs. Usage: tools/install-deps.sh [extra packages...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev nlohmann-json3-dev
  libcpp-httplib-dev libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils dbus-x11 pkexec
  chromium
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
# Node.js with npm drives the page tests; any installed node will do.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if ((${#missing[@]} == 0)); then
  echo "deps: all Debian packages present"
  exit 0
fi

sudo=()
if ((EUID != 0)); then sudo=(sudo); fi
echo "deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
