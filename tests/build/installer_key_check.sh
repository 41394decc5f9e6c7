#!/usr/bin/env bash
# The installer key a build is made with: which keys the configure step takes and which it
# refuses (through the check's script mode), then one real configure that must stop at a
# malformed key before anything is built. The good key is made by Debian's minisign.
# usage: installer_key_check.sh CHECK_SCRIPT SOURCE_DIR SCRATCH_DIR
set -euo pipefail
check=$1 source=$2 scratch=$3
failures=0

rm -rf "$scratch"
mkdir -p "$scratch"
minisign -G -W -p "$scratch/key.pub" -s "$scratch/key.sec" >/dev/null
key=$(sed -n 2p "$scratch/key.pub")
comment=$(sed -n 1p "$scratch/key.pub")

# key, extra option, expected: "ok" or a piece of the refusal
cases=(
  "||ok"
  "$key||ok"
  "$key|-DWIN32=ON|checked by the Linux program only"
  "$comment||not the comment line"
  "${key:0:55}||must be 56 characters long"
  "${key}A||must be 56 characters long"
  "${key:0:50}*${key:51}||not base64"
  "RX${key:2}||must begin with \"RW\""
)
for entry in "${cases[@]}"; do
  IFS='|' read -r candidate extra expected <<<"$entry"
  args=("-DTARVIK_INSTALLER_KEY=$candidate")
  [[ -n "$extra" ]] && args+=("$extra")
  status=0
  output=$(cmake "${args[@]}" -P "$check" 2>&1) || status=$?
  # CMake wraps long messages; the expectation is matched against the text joined up again.
  joined=$(tr -s ' \n' ' ' <<<"$output")
  if [[ "$expected" == ok ]]; then
    if ((status != 0)); then
      echo "FAIL: \"$candidate\" $extra was refused: $output"
      failures=$((failures + 1))
    fi
  elif ((status == 0)) || [[ "$joined" != *"$expected"* ]]; then
    echo "FAIL: \"$candidate\" $extra: expected a refusal with \"$expected\", got status $status: $output"
    failures=$((failures + 1))
  fi
done

# The real configure step refuses too.
status=0
output=$(cmake -S "$source" -B "$scratch/build" -DTARVIK_INSTALLER_KEY="${key:0:55}" 2>&1) ||
  status=$?
if ((status == 0)) || [[ "$(tr -s ' \n' ' ' <<<"$output")" != *"must be 56 characters long"* ]]; then
  echo "FAIL: configuring with a short key: status $status: $output"
  failures=$((failures + 1))
fi
rm -rf "$scratch"

if ((failures > 0)); then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all ${#cases[@]} keys and the configure step as expected"
