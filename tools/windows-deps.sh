#!/usr/bin/env bash
# Builds the libraries the Windows build links, with the MinGW-w64 toolchain, into a prefix under
# the build folder: libcurl (static, Schannel for TLS, HTTP(S) only, Unicode file names),
# GoogleTest, and the cpp-httplib and nlohmann-json headers. Debian packages none of them for
# MinGW, so they come from Debian's own sources of the versions the Linux build uses: curl and
# cpp-httplib through `apt-get source` with a private source list (the system's apt configuration
# is not touched), GoogleTest from /usr/src/googletest, nlohmann-json from its installed headers.
# Each library is rebuilt only when its Debian version changes (a stamp file per library).
# Usage: tools/windows-deps.sh [build folder, default build-windows]
# TARVIK_WINDOWS_DEPS names another folder for them (and its prefix), so that CI can keep the
# libraries between clones; cmake/mingw-w64.cmake then reads TARVIK_WINDOWS_PREFIX.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath -m "${1:-build-windows}")
deps=$(realpath -m "${TARVIK_WINDOWS_DEPS:-$build/deps}")
prefix="$deps/prefix"
toolchain="$source_dir/cmake/mingw-w64.cmake"
jobs=${JOBS:-2}
mkdir -p "$prefix/include" "$prefix/lib/pkgconfig" "$deps/stamps"

# A private apt configuration: the same Debian release as the machine, source packages only, with
# its lists and downloads in the build folder.
apt_dir="$deps/apt"
# shellcheck source=/dev/null
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
  -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root"
)
apt_ready=false
private_apt() {
  if ! $apt_ready; then
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    cat >"$apt_dir/sources.list" <<EOF
deb-src http://deb.debian.org/debian $codename main
deb-src http://deb.debian.org/debian $codename-updates main
deb-src http://deb.debian.org/debian-security $codename-security main
EOF
    apt-get "${apt_options[@]}" update -qq
    apt_ready=true
  fi
  apt-get "${apt_options[@]}" "$@"
}

# The newest source version the private list offers, and its unpacked tree in the build folder.
source_version() {
  private_apt showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}
unpack_source() { # package version -> prints the unpacked folder
  local package=$1 version=$2 work="$deps/src/$1"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && private_apt source -qq "$package=$version" >/dev/null 2>&1)
  find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1
}
fresh() { # name version -> true when the stamp says this version is already built
  [[ -f "$deps/stamps/$1" && "$(cat "$deps/stamps/$1")" == "$2" ]]
}
stamp() { echo "$2" >"$deps/stamps/$1"; }

cross_cmake=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF)
# The compiler cache, as the program's own build uses it: a fresh clone then rebuilds curl
# (about 9 minutes of compiling on two cores) mostly from the cache.
if command -v ccache >/dev/null; then
  cross_cmake+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# --- libcurl ---------------------------------------------------------------------------------------
curl_version=$(apt-cache policy libcurl4-openssl-dev | awk '/Installed:/ { print $2 }')
if [[ -z "$curl_version" || "$curl_version" == "(none)" ]]; then curl_version=$(source_version curl); fi
if ! fresh curl "$curl_version"; then
  echo "windows-deps: building curl $curl_version (Schannel, HTTP only, static)"
  tree=$(unpack_source curl "$curl_version")
  # Only what the program uses: HTTP and HTTPS through the system's TLS, no other protocols, no
  # compression, no international domain names, no proxies' auth libraries.
  cmake -S "$tree" -B "$deps/build/curl" "${cross_cmake[@]}" \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DENABLE_UNICODE=ON \
    -DCURL_DISABLE_LDAP=ON -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_LIBIDN2=OFF \
    -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_MANUAL=OFF \
    -DBUILD_CURL_EXE=OFF -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none >/dev/null
  cmake --build "$deps/build/curl" -j "$jobs" >/dev/null
  cmake --install "$deps/build/curl" >/dev/null
  stamp curl "$curl_version"
fi

# --- GoogleTest ------------------------------------------------------------------------------------
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
if ! fresh gtest "$gtest_version"; then
  echo "windows-deps: building GoogleTest $gtest_version"
  cmake -S /usr/src/googletest -B "$deps/build/gtest" "${cross_cmake[@]}" \
    -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$deps/build/gtest" -j "$jobs" >/dev/null
  cmake --install "$deps/build/gtest" >/dev/null
  stamp gtest "$gtest_version"
fi

# --- cpp-httplib -----------------------------------------------------------------------------------
# The binary package ships the library split into a header and a compiled part built for Linux;
# the source package's single header builds on Winsock.
httplib_version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
if ! fresh httplib "$httplib_version"; then
  echo "windows-deps: fetching the cpp-httplib $httplib_version header"
  tree=$(unpack_source cpp-httplib "$httplib_version")
  cp "$tree/httplib.h" "$prefix/include/httplib.h"
  cat >"$prefix/lib/pkgconfig/cpp-httplib.pc" <<EOF
Name: cpp-httplib
Description: single-header HTTP library (Debian source $httplib_version)
Version: ${httplib_version%%+*}
Cflags: -I$prefix/include
Libs: -lws2_32 -lcrypt32
EOF
  stamp httplib "$httplib_version"
fi

# --- nlohmann-json ---------------------------------------------------------------------------------
# Header-only and independent of the platform: the installed headers serve, with a package
# configuration of their own that points into the prefix.
json_version=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev)
if ! fresh json "$json_version"; then
  echo "windows-deps: copying the nlohmann-json $json_version headers"
  rm -rf "$prefix/include/nlohmann" && cp -r /usr/include/nlohmann "$prefix/include/"
  config="$prefix/lib/cmake/nlohmann_json"
  mkdir -p "$config"
  cat >"$config/nlohmann_jsonConfig.cmake" <<'EOF'
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF
  cat >"$config/nlohmann_jsonConfigVersion.cmake" <<EOF
set(PACKAGE_VERSION "${json_version%%-*}")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
EOF
  stamp json "$json_version"
fi
echo "windows-deps: libraries ready in $prefix"
