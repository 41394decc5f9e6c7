#!/usr/bin/env bash
# The installer publisher a Windows build is made with: which names the configure step takes and
# which it refuses (through the check's script mode), that a name reaches the program's text
# exactly, quotation marks and backslashes included, and one real configure of a Linux build that
# must stop at any publisher before anything is built.
# usage: installer_publisher_check.sh CHECK_SCRIPT SOURCE_DIR SCRATCH_DIR
set -euo pipefail
check=$1 source=$2 scratch=$3
failures=0

rm -rf "$scratch"
mkdir -p "$scratch"

# publisher, WIN32, expected: "ok" or a piece of the refusal ('|' separates the fields)
cases=(
  "|ON|ok"
  "|OFF|ok"
  "Tarvik Test Vendor|ON|ok"
  "Prüfwerk \"Nord\" GmbH|ON|ok"
  "Tarvik Test Vendor|OFF|checked by the Windows program only"
  " Tarvik Test Vendor|ON|white space at its start or end"
  "Tarvik$(printf '\t')Vendor|ON|control character"
  "CN=Tarvik Test Vendor, O=Tarvik|ON|not a subject"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r candidate windows expected <<<"$entry"
  status=0
  output=$(cmake "-DTARVIK_INSTALLER_PUBLISHER=$candidate" "-DWIN32=$windows" -P "$check" 2>&1) ||
    status=$?
  # CMake wraps long messages; the expectation is matched against the text joined up again.
  joined=$(tr -s ' \n' ' ' <<<"$output")
  if [[ "$expected" == ok ]]; then
    if ((status != 0)); then
      echo "FAIL: \"$candidate\" (WIN32=$windows) was refused: $output"
      failures=$((failures + 1))
    fi
  elif ((status == 0)) || [[ "$joined" != *"$expected"* ]]; then
    echo "FAIL: \"$candidate\" (WIN32=$windows): expected a refusal with \"$expected\", got status $status: $output"
    failures=$((failures + 1))
  fi
done

# The name as the program's string, passed the way common/CMakeLists.txt passes it.
name='Prüfwerk "Nord" \ GmbH'
mkdir -p "$scratch/literal"
cat >"$scratch/literal/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(literal CXX)
include($check)
tarvik_publisher_literal("\${NAME}" literal)
add_executable(print print.cpp)
set_property(SOURCE print.cpp APPEND PROPERTY COMPILE_DEFINITIONS NAME_TEXT="\${literal}")
CMAKE
printf '#include <cstdio>\nint main() { std::fputs(NAME_TEXT, stdout); }\n' >"$scratch/literal/print.cpp"
if cmake -S "$scratch/literal" -B "$scratch/literal/build" "-DNAME=$name" >/dev/null &&
  cmake --build "$scratch/literal/build" >/dev/null; then
  printed=$("$scratch/literal/build/print")
  [[ "$printed" == "$name" ]] || { echo "FAIL: the name came out as \"$printed\""; failures=$((failures + 1)); }
else
  echo "FAIL: the name's literal did not build"
  failures=$((failures + 1))
fi

# The real configure step of a Linux build refuses a publisher.
status=0
output=$(cmake -S "$source" -B "$scratch/build" "-DTARVIK_INSTALLER_PUBLISHER=Tarvik Test Vendor" 2>&1) ||
  status=$?
if ((status == 0)) || [[ "$(tr -s ' \n' ' ' <<<"$output")" != *"checked by the Windows program only"* ]]; then
  echo "FAIL: configuring a Linux build with a publisher: status $status: $output"
  failures=$((failures + 1))
fi
rm -rf "$scratch"

if ((failures > 0)); then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all ${#cases[@]} names, the name's literal and the configure step as expected"
