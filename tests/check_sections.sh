#!/bin/sh
# Fails unless the shipped DLL is stripped and carries no runtime baggage:
# no debug sections (they go to DLL.debug beside it, named by a debug link),
# no TLS directory or C runtime initialisers, and no exception tables on
# 32-bit x86. On x64 the unwind data (.pdata, .xdata) belongs to the calling
# convention and must be there.
# Usage: check_sections.sh OBJDUMP DLL
objdump=$1
dll=$2
format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
sections=$("$objdump" -h "$dll" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
[ -n "$sections" ] || { echo "no sections found in $dll"; exit 1; }
status=0
for s in $sections; do
    case $s in
        .debug*|.zdebug*) echo "debug section in the shipped DLL: $s"; status=1 ;;
        .tls|.CRT) echo "C runtime section $s: TLS slot or start-up code"; status=1 ;;
        .eh_frame|.gcc_except_table) echo "exception tables: $s"; status=1 ;;
    esac
done
case $format in
    pei-x86-64)
        for s in .pdata .xdata; do
            echo "$sections" | grep -qx "$s" || { echo "x64 unwind data missing: $s"; status=1; }
        done ;;
esac
echo "$sections" | grep -qx .gnu_debuglink || { echo "no debug link to $dll.debug"; status=1; }
if [ -f "$dll.debug" ]; then
    "$objdump" -h "$dll.debug" | grep -q ' \.debug_info ' || { echo "$dll.debug holds no debug information"; status=1; }
else
    echo "no debug information beside the DLL: $dll.debug"; status=1
fi
echo "sections: $(echo $sections)"
exit $status
