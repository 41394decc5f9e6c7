#!/usr/bin/env bash
# tools/vendor-bundle.sh: what it refuses before building anything, and the bundle it makes: a
# stripped program whose --version names the origin and the installer key's id (from a key file
# made by Debian's minisign), a config.ini for the package, and a .tar.gz of exactly the two. The build folder is kept between runs, so only the first one compiles.
# usage: vendor_bundle.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source_dir=$1 scratch=$2
bundle="$source_dir/tools/vendor-bundle.sh"
build="$scratch/build" dist="$scratch/dist"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$dist"
refusals=(
  "--origin http://downloads.example.test --downloader-id 42"
  "--origin http://127.0.0.1:47810 --downloader-id 42"
  "--origin https://downloads.example.test/path --downloader-id 42"
  "--origin https://downloads.example.test --downloader-id 4x"
  "--origin https://downloads.example.test --downloader-id 0"
  "--origin https://downloads.example.test --downloader-id 0 --api-url http://downloads.example.test/info"
  "--downloader-id 42"
  "--origin https://downloads.example.test --downloader-id 42 --installer-key RWQnotakey"
  "--origin https://downloads.example.test --downloader-id 42 --installer-key-file /nonexistent"
  "--origin https://downloads.example.test --downloader-id 42 --installer-publisher Tarvik"
  "--origin https://downloads.example.test --downloader-id 42 --windows --installer-key RWQnotakey"
)
for arguments in "${refusals[@]}"; do
  status=0
  # shellcheck disable=SC2086 # each case is a list of words
  output=$("$bundle" $arguments --build "$build" --dist "$dist" 2>&1) || status=$?
  if ((status != 2)) || [[ -e "$dist" ]]; then
    fail "$arguments: status $status, expected 2 and nothing made: $output"
  fi
done

origin=https://downloads.example.test:8443
api_url="$origin/custom/info?id=42"
rm -f "$scratch/key.pub" "$scratch/key.sec"
minisign -G -W -p "$scratch/key.pub" -s "$scratch/key.sec" >/dev/null
key_id=$(sed -n 's/^untrusted comment: minisign public key //p' "$scratch/key.pub")
status=0
output=$("$bundle" --origin "$origin" --downloader-id 42 --api-url "$api_url" \
  --installer-key-file "$scratch/key.pub" --build "$build" --dist "$dist" 2>&1) || status=$?
folder="$dist/tarvik-42"
if ((status != 0)); then
  fail "the bundle was not made (status $status): $output"
else
  version=$(env -u DISPLAY "$folder/tarvik" --version)
  [[ "$version" == *$'\n'"service origin: $origin"$'\n'"installer key: minisign key $key_id" ]] ||
    fail "--version: $version"
  grep -qx 'downloader_id=42' "$folder/config.ini" || fail "config.ini lacks downloader_id=42"
  grep -qxF "api_url=$api_url" "$folder/config.ini" || fail "config.ini lacks the api URL"
  if grep -q '^\[user\]' "$folder/config.ini"; then fail "config.ini holds a [user] section"; fi
  listing=$(tar -tzf "$folder/tarvik-42.tar.gz" | sort | tr '\n' ' ')
  [[ "$listing" == "tarvik-42/config.ini tarvik-42/tarvik " ]] || fail "the archive holds: $listing"
  mkdir -p "$scratch/unpacked"
  tar -xzf "$folder/tarvik-42.tar.gz" -C "$scratch/unpacked"
  cmp -s "$scratch/unpacked/tarvik-42/tarvik" "$folder/tarvik" || fail "the archive's program differs"
  rm -rf "$scratch/unpacked"
  if readelf -S "$folder/tarvik" | grep -q '\.symtab'; then fail "the program is not stripped"; fi
  [[ "$output" == *"tarvik-42/tarvik "*" KiB (stripped)"* ]] || fail "no size printed: $output"
fi

if ((failures > 0)); then exit 1; fi
echo "refusals and the bundle as expected"
