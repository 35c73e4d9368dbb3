#!/bin/sh
# tidemark-scan run natively and under Wine against the DLL must agree: on the
# bundled sample the same levels and byte-identical charts (only the
# library's and the chart's file names and the timings may differ), the same
# walk's rows byte for byte (whole history and a window), and on a screen of a
# folder the same rows, failures included.
# Usage: compare_scan.sh OUT_DIR NATIVE_SCAN WINE_RUNNER WINE_PREFIX WIN32_SCAN SAMPLE_CSV
set -eu
out=$1
native=$2
runner=$3
prefix=$4
win32=$5
sample=$6
[ -x "$native" ] || { echo "no native host at $native: build the native tree first"; exit 1; }
rm -rf "$out"
mkdir -p "$out"
cd "$out"
scan() {  # name, host command...
    name=$1
    shift
    "$@" --json --svg "$name.svg" >"$name.out" || { echo "$name run failed"; exit 1; }
    tr -d '\r' <"$name.out" | grep -v -e '"library":' -e '"chart":' -e '"seconds":' >"$name.json"
}
scan native "$native"
scan win32 "$runner" "$prefix" "$win32"
grep -q '"price"' native.json || { echo "the native run found no levels"; exit 1; }
diff native.json win32.json
cmp native.svg win32.svg
echo "same levels ($(grep -c '"index"' native.json)) and the same chart"

walk() {  # name, host command...
    name=$1
    shift
    "$@" --walk - >"$name.walk.out" || { echo "$name walk failed"; exit 1; }
    "$@" --walk - --window 120 --json >"$name.window.out" || { echo "$name windowed walk failed"; exit 1; }
    tr -d '\r' <"$name.walk.out" >"$name.walk.csv"
    tr -d '\r' <"$name.window.out" >"$name.window.json"
}
walk native "$native"
walk win32 "$runner" "$prefix" "$win32"
[ "$(wc -l <native.walk.csv)" -gt 1000 ] || { echo "the native walk has too few rows"; exit 1; }
cmp native.walk.csv win32.walk.csv
cmp native.window.json win32.window.json
echo "the same walk of $(($(wc -l <native.walk.csv) - 1)) bars, and with a window"

# A folder of the sample's slices in the forms the reader takes, one of them
# named in another script, and one file that fails.
mkdir screen
head -n 401 "$sample" >screen/first-400.csv
head -n 701 "$sample" >screen/first-700.csv
cp "$sample" screen/all.csv
{ head -n 1 "$sample"; tail -n +2 "$sample" | tac; } >screen/newest-first.csv
head -n 901 "$sample" | tr ',' ';' | sed 's/\([0-9]\)\.\([0-9]\)/\1,\2/g' >screen/semicolons.csv
head -n 601 "$sample" >"screen/株価.csv"
printf 'date,open,high,low,close\n2020-01-02,10,12,9,11\n2020-01-03,10,9,9.5,9.2\n' >screen/broken.csv
screen() {  # name, host command...
    name=$1
    shift
    status=0
    "$@" --json screen >"$name.screen.out" 2>"$name.screen.err" || status=$?
    [ $status = 1 ] || { echo "$name screen: exit status $status, expected 1 (one file fails)"; exit 1; }
    tr -d '\r' <"$name.screen.out" >"$name.screen.json"
}
screen native "$native"
screen win32 "$runner" "$prefix" "$win32"
[ "$(grep -c '"file"' native.screen.json)" = 7 ] || { echo "the native screen lacks rows"; cat native.screen.json; exit 1; }
grep -q '"error":"high 9 is below low 9.5"' native.screen.json || { echo "no row for the broken file"; exit 1; }
diff native.screen.json win32.screen.json
echo "same screen of $(grep -c '"file"' native.screen.json) files"
