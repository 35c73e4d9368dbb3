#!/bin/sh
# Fails unless every function of an x64 DLL has unwind data: each function
# symbol of its debug file (DLL.debug) lies inside a .pdata entry, so that a
# debugger, a crash reporter or the system's own exception dispatch can walk
# through any frame of the library. The import thunks (a lone jmp through
# the import table, which moves no register) are leaves that need none.
# Usage: check_unwind.sh OBJDUMP NM DLL
objdump=$1
nm=$2
dll=$3
debug=$dll.debug
[ -f "$debug" ] || { echo "no debug information beside the DLL: $debug"; exit 1; }
# "begin end" of every .pdata entry.
ranges=$("$objdump" -p "$dll" | awk '/^The Function Table/ { on = 1; next }
    on && /^ [0-9a-f]+:\t/ { print $2, $3; next }
    on && /^$/ { on = 0 }')
[ -n "$ranges" ] || { echo "no .pdata entries in $dll"; exit 1; }
# Function symbols (COFF type 0x20) by name, then their addresses.
functions=$("$objdump" -t "$debug" | awk '/\(ty +20\)/ { print $NF }' | sort -u)
[ -n "$functions" ] || { echo "no function symbols in $debug"; exit 1; }
imports=$("$nm" "$debug" | awk '$3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' | sort -u)
"$nm" "$debug" | awk -v ranges="$ranges" -v functions="$functions" -v imports="$imports" '
function hex(s,    i, v) {
    s = tolower(s); sub(/^0x/, "", s); v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v
}
BEGIN {
    n = split(ranges, r, "\n")
    for (i = 1; i <= n; i++) { split(r[i], f, " "); begin[i] = hex(f[1]); end_[i] = hex(f[2]) }
    m = split(functions, list, "\n"); for (i = 1; i <= m; i++) is_function[list[i]] = 1
    k = split(imports, list, "\n"); for (i = 1; i <= k; i++) is_import[list[i]] = 1
}
$2 ~ /^[Tt]$/ && ($3 in is_function) {
    if ($3 in is_import) { thunks++; next }
    a = hex($1); covered = 0
    for (i = 1; i <= n; i++) if (a >= begin[i] && a < end_[i]) { covered = 1; break }
    if (covered) checked++
    else { print "no unwind data: " $3; missing++ }
}
END {
    if (checked == 0) { print "no function checked: the test reads nothing"; exit 1 }
    printf "%d functions, each inside one of %d .pdata entries; %d import thunks (leaves)\n", checked, n, thunks
    exit missing > 0
}'
