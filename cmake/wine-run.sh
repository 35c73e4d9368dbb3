#!/bin/sh
# Runs a Windows program under Wine with a private prefix inside the build
# tree. Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts on the first start of a fresh prefix.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
export WINEARCH=win32
[ -d "$WINEPREFIX" ] || mkdir -p "$WINEPREFIX"
exec wine "$@"
