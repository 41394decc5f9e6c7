#!/usr/bin/env bash
# What tarvik.exe needs on the user's machine: one file whose imports are all libraries every
# Windows 10/11 has. A library of the compiler's run time (libstdc++, libgcc, libwinpthread) or of
# a dependency linked as a DLL would make the program fail to start on a machine without it, with
# the system's own "was not found" box, so the list is closed: a new system library is added here
# on purpose. Its debug information stays out of the shipped file.
# usage: windows_imports.sh OBJDUMP TARVIK_EXE
set -euo pipefail
objdump=$1 program=$2

allowed=(advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll kernel32.dll
  msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll winhttp.dll wintrust.dll ws2_32.dll)

mapfile -t imports < <("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' |
  tr '[:upper:]' '[:lower:]')
((${#imports[@]} > 0)) || { echo "no imports read from $program" >&2; exit 1; }
failures=0
for dll in "${imports[@]}"; do
  if [[ " ${allowed[*]} " != *" $dll "* ]]; then
    echo "FAIL: $program imports $dll, which is not a Windows system library" >&2
    failures=$((failures + 1))
  fi
done
if "$objdump" -h "$program" | grep -q '\.debug_info'; then
  echo "FAIL: $program carries its debug information" >&2
  failures=$((failures + 1))
fi
echo "imports: ${imports[*]}"
exit $((failures > 0))
