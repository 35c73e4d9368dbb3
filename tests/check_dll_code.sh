#!/bin/sh
# Reads the DLL's machine code and fails unless
#   - the x87 unit is left alone: no x87 or MMX instruction anywhere, except
#     (on 32-bit x86) one load in StopTimer that puts its result in ST(0),
#     after the host's MXCSR is back;
#   - every export only forwards: it holds no floating-point instruction of
#     its own, reads MXCSR (stmxcsr) before its first call, can load the
#     default (ldmxcsr) between the two, and loads the host's value back
#     between its last call and its return. So no floating-point
#     instruction of an export runs before the guard has taken effect;
#   - or, for an export without the guard, no floating-point instruction
#     and no MXCSR access can be reached from it at all, following every
#     direct jump and call (an indirect one fails the check), except through
#     a call or jump to a function that is itself guarded as above (how
#     CheckLevel hands over what it cannot answer on bits).
# Usage: check_dll_code.sh OBJDUMP DLL
objdump=$1
dll=$2
headers=$("$objdump" -p "$dll") || exit 1
format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
base=$(echo "$headers" | sed -n 's/^ImageBase[[:space:]]*//p')
[ -n "$base" ] || { echo "no image base in $dll"; exit 1; }
# Disassembled at their RVAs (the image base taken off, modulo 2^64), so
# that every address stays small enough for awk's arithmetic.
adjust=$(printf '0x%x' $(( -0x$base )))
# "export-name rva" for every named export.
exports=$(echo "$headers" | awk '
    /Export Address Table -- Ordinal Base/ { eat = 1; next }
    eat && /^\t\[ *[0-9]+\] \+base\[ *[0-9]+\] [0-9a-f]+ Export RVA/ {
        line = $0; sub(/^\t\[ */, "", line); index_ = line + 0
        n = split($0, f, " "); rva[index_] = f[n - 2]; next }
    /\[Ordinal\/Name Pointer\] Table/ { eat = 0; names = 1; next }
    names && /^\t\[ *[0-9]+\] / {
        line = $0; sub(/^\t\[ */, "", line); index_ = line + 0
        sub(/^[0-9]+\] /, "", line); print line, rva[index_]; next }
    names && /^$/ { names = 0 }')
[ -n "$exports" ] || { echo "no export table found in $dll"; exit 1; }
x87_allowed=0
case $format in pei-i386) x87_allowed=1 ;; esac

"$objdump" -d --no-show-raw-insn --adjust-vma="$adjust" "$dll" | awk -v exports="$exports" \
    -v x87_allowed="$x87_allowed" '
function hex(s,    i, c, v) {
    s = tolower(s); sub(/^0x/, "", s); v = 0
    for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", substr(s, i, 1)) - 1; v = v * 16 + c }
    return v
}
function is_x87(m, ops) {
    return (m ~ /^f/ && m != "fs" ) || ops ~ /%mm[0-7]/ || m == "emms"
}
# Instructions whose result or exceptions depend on MXCSR.
function is_fp(m) {
    return m ~ /^v?(add|sub|mul|div|sqrt|min|max|rcp|rsqrt|round|hadd|hsub|addsub|dp)(s|p)(s|d)$/ ||
           m ~ /^v?u?comis(s|d)$/ || m ~ /^v?cmp[a-z]*(s|p)(s|d)$/ || m ~ /^v?cvt/
}
# Walks all the code that can run from instruction `entry`, following direct
# jumps and calls; prints and counts what a guard-free export must not reach.
function unguarded_faults(name, entry,    stack, sp, i, m, o, t, faults) {
    sp = 0; stack[++sp] = entry; faults = 0; reached = 0
    for (i in visited) delete visited[i]
    for (i in guarded_entries) delete guarded_entries[i]
    while (sp > 0) {
        i = stack[sp--]
        while (i <= n && !(i in visited)) {
            visited[i] = 1; reached++; m = mnemonic[i]; o = operands[i]
            if (is_fp(m) || is_x87(m, o) || m ~ /mxcsr$/) {
                print name ": reaches " m " " o " without the guard"; faults++
            }
            if (m ~ /^(j|call)/) {
                if (o ~ /^0x[0-9a-f]+$/ && where[hex(o)] != "") {
                    t = where[hex(o)]
                    if (m ~ /^(jmp|call)/ && guarded_run("", t, 0) == 0) guarded_entries[t] = 1
                    else stack[++sp] = t
                } else { print name ": " m " " o " cannot be followed, check it by hand"; faults++ }
            }
            if (m ~ /^ret/ || m == "jmp") break
            i++
        }
    }
    return faults
}
# The straight run from `start` to its first return, or to a jump before any
# MXCSR access (a guard-free function that tail-calls, on x64): sets ret,
# read (its stmxcsr), first_call, last_call, and load_before and load_after
# (its ldmxcsr before the first call and after the last), 0 when missing.
function scan_run(start,    i, m) {
    read = 0; first_call = 0; last_call = 0; load_before = 0; load_after = 0; ret = 0
    for (i = start; i <= n; i++) {
        m = mnemonic[i]
        if (m ~ /^ret/) { ret = i; break }
        if (m == "jmp" && !read) { ret = i; break }
        if (m == "stmxcsr" && !read) read = i
        if (m == "ldmxcsr") { if (!first_call && read) load_before = i; if (last_call) load_after = i }
        if (m ~ /^call/) { if (!first_call) first_call = i; last_call = i; load_after = 0 }
    }
}
# Checks that the straight run from `start` to its return reads MXCSR before
# its first call, can load the default between the two, loads the host
# value back after its last call and holds no floating-point instruction of
# its own. Prints what fails when `report` is set (and then also counts the
# x87 load that StopTimer may hold); returns the number of faults.
function guarded_run(name, start, report,    i, m, target, faults) {
    faults = 0
    scan_run(start)
    if (!ret) { if (report) print name ": no return found"; return 1 }
    for (i = start; i < ret; i++) {
        m = mnemonic[i]
        # The straight run from the entry to the return must be the
        # whole function, so that what follows holds on every path.
        if (m ~ /^j/ && operands[i] ~ /^0x[0-9a-f]+$/) {
            target = hex(operands[i])
            if (target < at[start] || target > at[ret]) {
                if (report) print name ": jumps outside its straight run (" m " " operands[i] "), check it by hand"
                faults++
            }
        } else if (m ~ /^j/) { if (report) print name ": indirect jump, check it by hand"; faults++ }
        if (is_fp(m)) { if (report) print name ": floating-point instruction of its own: " m " " operands[i]; faults++ }
        if (is_x87(m, operands[i])) {
            if (report) x87_seen++
            if (!(x87_allowed && name == "StopTimer" && m ~ /^fld/ && i > load_after && load_after > 0)) {
                if (report) print name ": x87 instruction " m " " operands[i]
                faults++
            }
        }
    }
    if (!read || !first_call || read > first_call) { if (report) print name ": does not read MXCSR before its first call"; faults++ }
    if (!load_before) { if (report) print name ": cannot load the default MXCSR before its first call"; faults++ }
    if (!load_after) { if (report) print name ": does not load the host MXCSR back after its last call"; faults++ }
    return faults
}
BEGIN { nexports = split(exports, lines, "\n") }
/^ *[0-9a-f]+:\t/ {
    split($0, parts, "\t")
    address = parts[1]; sub(/:$/, "", address); sub(/^ */, "", address)
    text = parts[2]; m = text; sub(/ .*/, "", m); ops = text; sub(/^[^ ]* */, "", ops)
    n++; at[n] = hex(address); mnemonic[n] = m; operands[n] = ops; where[hex(address)] = n
}
END {
    status = 0; x87_seen = 0
    for (e = 1; e <= nexports; e++) {
        split(lines[e], f, " "); name = f[1]; start = where[hex(f[2])]
        if (start == "") { print name ": entry not found in the disassembly"; status = 1; continue }
        before = status; status = 0
        scan_run(start)
        if (!ret) { print name ": no return found"; status = 1; continue }
        if (!read) {
            if (unguarded_faults(name, start)) status = 1
            else {
                handed = 0; for (i in guarded_entries) handed++
                if (handed)
                    printf "%-17s no guard, none of its %d reachable instructions is floating-point; " \
                           "hands over to %d guarded function(s)\n", name ":", reached, handed
                else printf "%-17s no guard, and none of its %d reachable instructions is floating-point\n", name ":", reached
            }
            status = status || before
            continue
        }
        if (guarded_run(name, start, 1) == 0)
            printf "%-17s stmxcsr, ldmxcsr (when the host differs), call, ldmxcsr (host), ret\n", name ":"
        else status = 1
        status = status || before
    }
    total = 0
    for (i = 1; i <= n; i++) if (is_x87(mnemonic[i], operands[i])) total++
    if (total != x87_seen) { print total - x87_seen " x87 or MMX instruction(s) outside the exports"; status = 1 }
    if (x87_allowed && x87_seen != 1) { print "expected exactly one x87 instruction (StopTimer'"'"'s result), found " x87_seen; status = 1 }
    if (!x87_allowed && x87_seen != 0) status = 1
    if (status == 0 && total == 0) print "x87: no instruction"
    if (status == 0 && total == 1) print "x87: 1 instruction, the load of StopTimer'"'"'s result"
    exit status
}'
