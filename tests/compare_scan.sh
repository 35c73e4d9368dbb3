#!/bin/sh
# tidemark-scan run natively and under Wine against the DLL, on the bundled
# sample, must find the same levels and draw byte-identical charts: only the
# library's file name and the timings may differ.
# Usage: compare_scan.sh OUT_DIR NATIVE_SCAN WINE_RUNNER WINE_PREFIX WIN32_SCAN
set -eu
out=$1
native=$2
runner=$3
prefix=$4
win32=$5
[ -x "$native" ] || { echo "no native host at $native: build the native tree first"; exit 1; }
rm -rf "$out"
mkdir -p "$out"
cd "$out"
scan() {  # name, host command...
    name=$1
    shift
    "$@" --json --svg "$name.svg" >"$name.out" || { echo "$name run failed"; exit 1; }
    tr -d '\r' <"$name.out" | grep -v -e '"library":' -e '"seconds":' >"$name.json"
}
scan native "$native"
scan win32 "$runner" "$prefix" "$win32"
grep -q '"price"' native.json || { echo "the native run found no levels"; exit 1; }
diff native.json win32.json
cmp native.svg win32.svg
echo "same levels ($(grep -c '"index"' native.json)) and the same chart"
