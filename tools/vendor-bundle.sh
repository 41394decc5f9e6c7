#!/usr/bin/env bash
# Builds the program a vendor ships: a release build for the vendor's service, stripped, with a
# commented config.ini for one package of the service, in dist/tarvik-<N>/, and a .tar.gz of the
# two beside them. Prints what it made and how large it is.
#
# usage: tools/vendor-bundle.sh --origin https://downloads.example.com --downloader-id N
#          [--api-url URL] [--installer-key KEY | --installer-key-file FILE] [--build DIR]
#          [--dist DIR] [--windows [--installer-publisher NAME]]
#   --origin              the service's origin (https only: the page it serves commands the program)
#   --downloader-id       which package of the service this copy stands for (digits; 0 needs
#                         --api-url)
#   --api-url             the complete info URL, used when the downloader id is 0
#   --installer-key       the vendor's minisign public key (the "RW..." line): installers are
#                         started only when their signature by it holds
#   --installer-key-file  the same key from its file as `minisign -G` writes it (minisign.pub)
#   --build               the build folder (build-release, build-release-windows; reconfigured
#                         for each origin)
#   --dist                where tarvik-<N>/ goes (dist)
#   --windows             tarvik.exe for Windows instead, cross-built with the libraries
#                         `make windows-deps` made (or those in TARVIK_WINDOWS_PREFIX)
#   --installer-publisher with --windows: the display name of the vendor's code signing
#                         certificate; installers are started only when their code signature
#                         holds and is this publisher's
set -euo pipefail

usage() { sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; }
die() { printf 'vendor-bundle: %s\n' "$*" >&2; exit 2; }

origin='' id='' api_url='' key='' key_file='' build='' dist=dist windows=false publisher=''
while (($#)); do
  case "$1" in
    --origin) origin=${2-}; shift 2 || die "--origin needs a value" ;;
    --downloader-id) id=${2-}; shift 2 || die "--downloader-id needs a value" ;;
    --api-url) api_url=${2-}; shift 2 || die "--api-url needs a value" ;;
    --installer-key) key=${2-}; shift 2 || die "--installer-key needs a value" ;;
    --installer-key-file) key_file=${2-}; shift 2 || die "--installer-key-file needs a value" ;;
    --build) build=${2-}; shift 2 || die "--build needs a value" ;;
    --dist) dist=${2-}; shift 2 || die "--dist needs a value" ;;
    --windows) windows=true; shift ;;
    --installer-publisher) publisher=${2-}; shift 2 || die "--installer-publisher needs a value" ;;
    -h | --help) usage; exit 0 ;;
    *) die "unknown argument $1 (see --help)" ;;
  esac
done

[[ -n "$origin" && -n "$id" ]] || { usage >&2; exit 2; }
# Checked here as well as by the configure step, so that nothing is built for a wrong origin and
# the message says why at once. Loopback is refused too: such a program reaches nobody else.
[[ "$origin" =~ ^https://[^/?#@[:space:]]+$ ]] ||
  die "the origin must be https://host[:port] with nothing after it, not \"$origin\": over plain HTTP anyone on the way can replace the page, which commands the program"
if [[ ! "$id" =~ ^[0-9]{1,10}$ ]] || ((10#$id > 2147483647)); then
  die "the downloader id must be a number from 0 to 2147483647, not \"$id\""
fi
id=$((10#$id))
if ((id == 0)); then
  [[ "$api_url" =~ ^https://[^[:space:]]+$ ]] || die "a downloader id of 0 needs --api-url https://..."
elif [[ -n "$api_url" && ! "$api_url" =~ ^https://[^[:space:]]+$ ]]; then
  die "the api URL must be an https:// URL, not \"$api_url\""
fi

if [[ -n "$key_file" ]]; then
  [[ -z "$key" ]] || die "give the installer key or its file, not both"
  [[ -r "$key_file" ]] || die "cannot read the installer key file \"$key_file\""
  # The file's second line is the key; the first is an untrusted comment.
  key=$(sed -n 2p "$key_file" | tr -d '[:space:]')
fi
if $windows; then
  [[ -z "$key" ]] ||
    die "the Windows program checks installers' code signatures, not minisign signatures: give --installer-publisher instead of an installer key"
elif [[ -n "$publisher" ]]; then
  die "--installer-publisher needs --windows: the Linux program checks minisign signatures (--installer-key)"
fi
# The configure step checks the key's form again and says what is wrong with it.
[[ -z "$key" || "$key" =~ ^RW[A-Za-z0-9+/]{54}$ ]] ||
  die "the installer key must be a minisign public key (\"RW\" and 54 more base64 characters), not \"$key\""

cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
name="tarvik-$id"
folder="$dist/$name"
if $windows; then
  build=${build:-build-release-windows}
  prefix=${TARVIK_WINDOWS_PREFIX:-$PWD/build-windows/deps/prefix}
  [[ -d "$prefix/lib" ]] ||
    die "the Windows libraries are not in $prefix: run make windows-deps first (or set TARVIK_WINDOWS_PREFIX)"
  # The configure step checks the publisher's name and says what is wrong with it. The build
  # runs the translation table's tool under Wine, whose prefix stays in the build folder.
  TARVIK_WINDOWS_PREFIX=$prefix cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "-DTARVIK_SERVICE_ORIGIN=$origin" "-DTARVIK_INSTALLER_PUBLISHER=$publisher" \
    "${launcher[@]}" >/dev/null
  wine_root=$build/wine
  [[ "$build" == /* ]] || wine_root=$PWD/$build/wine
  env -u DISPLAY "TARVIK_WINE_ROOT=$wine_root" cmake --build "$build" --target tarvik
  program=tarvik.exe
  rm -rf "$folder"
  mkdir -p "$folder"
  x86_64-w64-mingw32-strip -o "$folder/$program" "$build/$program"
else
  build=${build:-build-release}
  # Only the program; a changed origin or key rebuilds the one file that holds them.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "-DTARVIK_SERVICE_ORIGIN=$origin" "-DTARVIK_INSTALLER_KEY=$key" "${launcher[@]}" >/dev/null
  cmake --build "$build" --target tarvik
  program=tarvik
  rm -rf "$folder"
  mkdir -p "$folder"
  strip -o "$folder/$program" "$build/$program"
fi
{
  printf '; Settings of this copy of the installation assistant, read from beside the program.\n'
  printf '; Its service: %s (compiled in).\n' "$origin"
  printf '\n[root]\n'
  printf '; Which package of the service this copy stands for. When not 0, the info request is\n'
  printf ';   %s/downloader.php/index/info?id=%s\n' "$origin" "$id"
  printf 'downloader_id=%s\n' "$id"
  printf '; Used only when downloader_id is 0: the complete info URL.\n'
  if [[ -n "$api_url" ]]; then
    printf 'api_url=%s\n' "$api_url"
  else
    printf ';api_url=%s/downloader.php/index/info?id=%s\n' "$origin" "$id"
  fi
  printf '\n; [user] uuid=... is written by the assistant on its first run: this installation'"'"'s\n'
  printf '; identifier. Ship the file without it.\n'
} >"$folder/config.ini"
tar -czf "$folder/$name.tar.gz" -C "$dist" "$name/$program" "$name/config.ini"

if $windows; then
  # What the program's --version would answer, without starting Wine for it.
  version="tarvik.exe for $origin, installer publisher: ${publisher:-none}"
else
  version=$("$folder/tarvik" --version | tr '\n' ' ')
fi
size() { du -k "$1" | cut -f1; }
printf 'vendor-bundle: %s\n' "$version"
printf 'vendor-bundle: %s/%s      %6s KiB (stripped)\n' "$folder" "$program" "$(size "$folder/$program")"
printf 'vendor-bundle: %s/config.ini  downloader_id=%s\n' "$folder" "$id"
printf 'vendor-bundle: %s/%s.tar.gz %6s KiB\n' "$folder" "$name" "$(size "$folder/$name.tar.gz")"
