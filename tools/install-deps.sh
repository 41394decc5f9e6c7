#!/usr/bin/env bash
# Installs the Debian packages a task needs, and nothing that is already there. Prints what it
# installs. Usage: tools/install-deps.sh [--build] [--test] [--demo] [--page] [--lint] [--fuzz]
#   [--format] [--windows] [extra packages...]
# Each option adds one group of packages; with no option at all, every group is installed (what
# `make deps` does). Any other argument is a further Debian package, for scripts such as the
# benchmarks that need a tool or two of their own.
set -euo pipefail

# Compiling the program, the demo service and the tests.
build=(
  build-essential cmake ninja-build pkg-config
  libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev nlohmann-json3-dev
  libcpp-httplib-dev libgtest-dev libgmock-dev
)
# What the program itself needs at run time: bubblewrap and xdg-dbus-proxy, which WebKitGTK
# uses to sandbox the web content (without them the program refuses to show the page).
run=(bubblewrap xdg-dbus-proxy)
# Running the tests: windows on a virtual X server driven by xdotool and inspected with
# xwininfo, session buses (dbus-daemon, dbus-run-session) for the web view and the stand-in
# package installer, pkexec for the elevation tests, the reference page in headless Chromium
# (Node.js and npm are checked separately), a window manager (openbox: the window tests run under
# it too, tests/gui/with_window_manager.sh), without which nothing
# maximises or minimises a window on the virtual X server, for the page kit's scenarios, and
# minisign, whose keys and signatures the signed installer tests check against.
test=("${run[@]}" xvfb xauth xdotool x11-utils dbus-daemon dbus-x11 pkexec chromium openbox minisign)
# Running the demo: a virtual X server when there is no display, its own session bus, pkexec for
# "install", xdotool and x11-utils to drive and look at the window as the demo suggests, and
# minisign for the signed demo (SIGNED=1).
demo=("${run[@]}" xvfb xauth xdotool x11-utils dbus-daemon dbus-x11 pkexec minisign)
# The static checks: clang-tidy over the C++ sources, shellcheck over the scripts.
lint=(clang-tidy shellcheck)
# The libFuzzer entry points need clang and its sanitizer and fuzzer runtimes, which clang only
# recommends.
fuzz=(clang libclang-rt-dev)
format=(clang-format)
# The Windows build: the MinGW-w64 cross compiler (its "-posix" flavour, with std::thread), Wine
# for the tests, a virtual X server for the window tests, dpkg-dev to unpack Debian's curl and
# cpp-httplib sources, the sources and headers tools/windows-deps.sh builds from, and openssl
# and osslsigncode, which make the code-signed programs the signature tests judge.
windows=(
  cmake ninja-build pkg-config dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64 xvfb xauth xdotool googletest
  libcurl4-openssl-dev libcpp-httplib-dev nlohmann-json3-dev openssl osslsigncode
)

packages=()
extra=()
needs_node=false
for argument in "$@"; do
  case "$argument" in
    --build) packages+=("${build[@]}") ;;
    --test) packages+=("${test[@]}"); needs_node=true ;;
    --demo) packages+=("${demo[@]}"); needs_node=true ;;
    # `make page-dev`: only the demo service is built, but in the test build folder, whose
    # configuration also looks for Node.js.
    --page) packages+=("${build[@]}"); needs_node=true ;;
    --lint) packages+=("${lint[@]}") ;;
    --fuzz) packages+=("${fuzz[@]}") ;;
    --format) packages+=("${format[@]}") ;;
    --windows) packages+=("${windows[@]}") ;;
    -*) echo "install-deps: unknown option $argument" >&2; exit 2 ;;
    *) extra+=("$argument") ;;
  esac
done
if ((${#packages[@]} == 0)); then
  packages=("${build[@]}" "${test[@]}" "${demo[@]}" "${lint[@]}" "${fuzz[@]}" "${format[@]}")
  needs_node=true
fi
packages+=("${extra[@]}")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" && " ${missing[*]} " != *" $package "* ]]; then
    missing+=("$package")
  fi
done
# Node.js with npm drives the page tests and the demo's screenshots; any installed node will do.
if $needs_node && { ! command -v node >/dev/null || ! command -v npm >/dev/null; }; then
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
