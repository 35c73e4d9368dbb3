#!/bin/sh
# Fails when a relative link in the README or docs/ names a file that does not
# exist, or a #section that the target has no heading for (headings become
# anchors as on GitHub: lower case, punctuation dropped, spaces to hyphens).
# Usage: check_doc_links.sh SOURCE_DIR
set -eu
cd "$1"
anchors() {  # the anchors of a Markdown file's headings
    sed -n 's/^#\{1,6\} \{1,\}//p' "$1" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
status=0
checked=0
for doc in README.md docs/*.md; do
    dir=$(dirname "$doc")
    for link in $(grep -o '](\([^)#:]*\)\(#[^)]*\)\{0,1\})' "$doc" | sed 's/^](//; s/)$//'); do
        file=${link%%#*}
        anchor=
        case $link in *'#'*) anchor=${link#*#} ;; esac
        target=$doc
        [ -n "$file" ] && target=$dir/$file
        checked=$((checked + 1))
        if [ ! -e "$target" ]; then
            echo "$doc: link to $link: no file $target"
            status=1
        elif [ -n "$anchor" ] && ! anchors "$target" | grep -qx -- "$anchor"; then
            echo "$doc: link to $link: no heading for #$anchor in $target"
            status=1
        fi
    done
done
[ "$checked" -gt 0 ] || { echo "no links found: the check reads nothing"; exit 1; }
[ $status -eq 0 ] && echo "$checked links in README.md and docs/ lead somewhere"
exit $status
