#!/bin/sh
# Fails unless the DLL imports from Windows system DLLs only: a host machine
# has no MinGW runtime to offer.
# Usage: check_imports.sh OBJDUMP DLL
objdump=$1
dll=$2
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table found in $dll"; exit 1; }
status=0
for name in $imports; do
    case $(echo "$name" | tr 'A-Z' 'a-z') in
        kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) echo "import ok: $name" ;;
        *) echo "not a Windows system DLL: $name"; status=1 ;;
    esac
done
exit $status
