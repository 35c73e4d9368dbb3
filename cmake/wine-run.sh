#!/bin/sh
# Runs a Windows program under Wine with a private prefix inside the build
# tree. Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
# A 64-bit program needs a 64-bit prefix (which runs 32-bit programs too);
# a 32-bit build gets a 32-bit prefix, which starts faster and is what its
# hosts have. The program's PE header decides when the prefix is new.
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts on the first start of a fresh prefix.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
if [ -f "$WINEPREFIX/system.reg" ]; then
    unset WINEARCH  # the prefix knows its own
else
    # The machine field of the PE header: 64 86 (0x8664) is x86-64.
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx1 -j$((${pe:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    if [ "$machine" = 6486 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
fi
[ -d "$WINEPREFIX" ] || mkdir -p "$WINEPREFIX"
exec wine "$@"
