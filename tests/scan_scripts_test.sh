#!/bin/sh
# The commands around the demo host, run as a user runs them: where their
# output goes, which folder they read from, and that the host carries no
# path into the source tree. Usage: scan_scripts_test.sh SOURCE_DIR BUILD_DIR
set -eu
top=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
demo() {  # runs scripts/demo in $work against this build
    (cd "$work" && TIDEMARK_DEMO_BUILD="$build" "$top/scripts/demo" "$@")
}

# The report can be redirected to a file, appended to a log, or sent to a
# file together with stderr: nothing reopens and truncates it.
demo >"$work/out.txt" 2>"$work/err.txt" || fail "scripts/demo failed: $(cat "$work/err.txt")"
grep -q "CheckLevel last close 362.71" "$work/out.txt" || fail "> out.txt lost the report: $(cat "$work/out.txt")"
grep -q "chart      $top/build/demo/chart.svg" "$work/out.txt" || fail "the report does not name the chart"
echo "an earlier line" >"$work/log.txt"
demo >>"$work/log.txt" 2>&1 || fail "scripts/demo >> log failed"
[ "$(head -n 1 "$work/log.txt")" = "an earlier line" ] || fail ">> log.txt lost the earlier line"
grep -q "CheckLevel last close 362.71" "$work/log.txt" || fail ">> log.txt lost the report"
demo >"$work/both.txt" 2>&1 || fail "scripts/demo > both 2>&1 failed"
grep -q "CheckLevel last close 362.71" "$work/both.txt" || fail "> both 2>&1 lost the report"
grep -q "=== building" "$work/both.txt" || fail "> both 2>&1 lost stderr"

# --json > out.json holds the JSON and nothing else.
demo --json >"$work/out.json" 2>/dev/null || fail "scripts/demo --json failed"
[ "$(head -n 1 "$work/out.json")" = "{" ] && [ "$(tail -n 1 "$work/out.json")" = "}" ] ||
    fail "--json > out.json is not just the JSON: $(head -n 3 "$work/out.json")"

# Relative names are the caller's: the input is read from, and the chart
# written to, the folder scripts/demo is run in.
cp "$top/data/daily-bars.csv" "$work/my-bars.csv"
demo my-bars.csv --svg my-chart.svg >"$work/mine.txt" 2>&1 || fail "scripts/demo my-bars.csv failed: $(cat "$work/mine.txt")"
grep -q "^tidemark-scan: my-bars.csv$" "$work/mine.txt" || fail "my-bars.csv was not read: $(head -n 3 "$work/mine.txt")"
[ -s "$work/my-chart.svg" ] || fail "--svg my-chart.svg did not land in the caller's folder"
[ ! -e "$top/my-chart.svg" ] || fail "--svg my-chart.svg landed in the repository"
# An option's value is no second input: one file with its walk still draws.
rm -f "$top/build/demo/chart.svg"
demo my-bars.csv --walk my-walk.csv --window 250 >"$work/walk.txt" 2>&1 || fail "scripts/demo --walk failed: $(cat "$work/walk.txt")"
[ -s "$work/my-walk.csv" ] && [ -s "$top/build/demo/chart.svg" ] || fail "scripts/demo --walk FILE: no walk or no chart: $(tail -n 3 "$work/walk.txt")"
mkdir "$work/prices"
cp "$top/data/daily-bars.csv" "$work/prices/a.csv"
cp "$top/data/daily-bars.csv" "$work/prices/b.csv"
demo prices >"$work/screen.txt" 2>&1 || fail "scripts/demo prices (a screen) failed: $(cat "$work/screen.txt")"
grep -q "tidemark-scan: 2 files" "$work/screen.txt" || fail "no screen of the folder: $(cat "$work/screen.txt")"

# On a machine that lacks a package, set-up output (and apt's) goes to
# stderr. apt-get, dpkg and id are stand-ins that print to stdout.
mkdir "$work/bin"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\necho "Reading package lists... Done"\n' >"$work/bin/apt-get"
printf '#!/bin/sh\necho "dpkg $*"\n' >"$work/bin/dpkg"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/id" "$work/bin/apt-get" "$work/bin/dpkg" "$work/bin/dpkg-query"
(
    PATH="$work/bin:$PATH"
    . "$top/scripts/setup.sh"
    tm_require wine
) >"$work/setup.out" 2>"$work/setup.err" || fail "tm_require failed: $(cat "$work/setup.err")"
[ ! -s "$work/setup.out" ] || fail "set-up printed to stdout: $(cat "$work/setup.out")"
grep -q "Reading package lists" "$work/setup.err" || fail "apt's output went nowhere: $(cat "$work/setup.err")"

# The host names no file in the source tree: moved anywhere, it still runs
# its bundled sample.
if grep -q -F "$top/data" "$build/tidemark-scan"; then
    fail "tidemark-scan carries the path $top/data"
fi
mkdir "$work/moved"
cp "$build/tidemark-scan" "$build/libtidemark.so" "$work/moved/"
(cd / && "$work/moved/tidemark-scan" >"$work/moved.txt" 2>&1) || fail "the moved host failed: $(cat "$work/moved.txt")"
grep -q "using the bundled sample" "$work/moved.txt" || fail "the moved host does not say it uses the sample"

# docs/scan.md quotes the usage as --help prints it: one source, no drift.
"$build/tidemark-scan" --help >"$work/help.txt"
sed -n '/^usage: tidemark-scan/,/^```$/p' "$top/docs/scan.md" | sed '$d' >"$work/doc-usage.txt"
[ -s "$work/doc-usage.txt" ] || fail "docs/scan.md quotes no usage block"
diff -u "$work/doc-usage.txt" "$work/help.txt" >"$work/usage.diff" ||
    fail "docs/scan.md's usage block differs from --help: $(cat "$work/usage.diff")"

[ $failures = 0 ] || exit 1
echo "scripts/demo, scripts/setup.sh and the host's sample: all checks passed"
