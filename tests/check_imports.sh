#!/bin/sh
# Fails unless the DLL imports from Windows system DLLs only (a host machine
# has no MinGW runtime to offer, and a host that carries its own must not
# share state with the library), and imports none of the functions through
# which a runtime keeps process-wide state (TLS and fiber slots, vectored or
# unhandled-exception handlers, threads, raised exceptions) or the C
# runtime's floating-point functions.
# Usage: check_imports.sh OBJDUMP DLL
objdump=$1
dll=$2
table=$("$objdump" -p "$dll") || exit 1
imports=$(echo "$table" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table found in $dll"; exit 1; }
status=0
for name in $imports; do
    case $(echo "$name" | tr 'A-Z' 'a-z') in
        libgcc_s*|libstdc++*|libwinpthread*)
            echo "imports the MinGW runtime: $name (its state would be shared with the host's copy)"; status=1 ;;
        kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) echo "import ok: $name" ;;
        *) echo "not a Windows system DLL: $name"; status=1 ;;
    esac
done
# The imported functions: lines "<hint rva> <ordinal> <name>" after a DLL Name.
functions=$(echo "$table" | awk '/DLL Name:/ { in_dll = 1; next }
    in_dll && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print $3 }
    /^$/ { in_dll = 0 }')
for f in $functions; do
    case $f in
        TlsAlloc|FlsAlloc|AddVectoredExceptionHandler|AddVectoredContinueHandler|SetUnhandledExceptionFilter|\
        RaiseException|CreateThread|_beginthreadex|_beginthread|atexit|_onexit)
            echo "imports $f: runtime state the library must not keep"; status=1 ;;
        # The C runtime's maths runs on the x87 unit under the host's settings.
        _nextafter|nextafter|fabs|floor|ceil|sqrt|pow|exp|log|log10|fmod|modf|ldexp|frexp|_copysign|_chgsign|\
        _finite|_isnan|_fpclass|_controlfp|_control87|_clearfp|_statusfp|_fpreset)
            echo "imports $f: C runtime floating point"; status=1 ;;
    esac
done
echo "imported functions: $(echo $functions)"
exit $status
