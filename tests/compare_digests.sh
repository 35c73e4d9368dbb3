#!/bin/sh
# The library's results on every random differential case, digested, must be
# the same bits in this build as in the native one: agreeing with a reference
# compiled for the same target is not enough, since a target's compiler could
# move both alike. Each file holds "<what> <cases> <digest>" lines appended by
# one run of the suite (several runs of a differential, say under each host
# environment, must agree with one another too).
# Usage: compare_digests.sh NATIVE_FILE THIS_FILE
set -eu
native=$1
this=$2
for f in "$native" "$this"; do
    [ -s "$f" ] || { echo "no digests in $f: run that build's suite first"; exit 1; }
done
status=0
for f in "$native" "$this"; do
    # A differential with two digests for the same number of cases.
    conflicts=$(tr -d '\r' <"$f" | sort -u | awk '{ key = $0; sub(/ [^ ]+$/, "", key); print key }' | uniq -d)
    if [ -n "$conflicts" ]; then
        echo "$f: different results for the same cases: $conflicts"; status=1
    fi
done
# A Windows program writes CRLF.
tr -d '\r' <"$native" | sort -u >"$this.native-sorted"
tr -d '\r' <"$this" | sort -u >"$this.sorted"
if diff -u "$this.native-sorted" "$this.sorted"; then
    echo "$(wc -l <"$this") differential runs here, $(wc -l <"$native") natively; their $(wc -l <"$this.sorted") distinct (what, cases, digest) lines are the same:"
    sed 's/^/  /' "$this.sorted"
else
    echo "the digests differ from the native build's (- native, + this build)"; status=1
fi
rm -f "$this.native-sorted" "$this.sorted"
exit $status
