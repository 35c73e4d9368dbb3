#!/bin/sh
# The layers only look down: the reader (reader/) includes only itself and the
# public header; the analysis (analysis/) only itself, the reader and the
# public header; neither holds thread, terminal or JSON code, and neither's
# CMakeLists reaches into a front end's folder (tools/, python/).
#   check_layers.sh SOURCE_DIR
set -u
top=$1
status=0
check() {  # folder, the folders its quoted includes may come from...
    local folder=$1 f name inc d found
    shift
    for f in "$top/$folder"/*.h "$top/$folder"/*.cpp; do
        name=${f#"$top"/}
        for inc in $(sed -n 's/^[ \t]*#[ \t]*include[ \t]*"\([^"]*\)".*/\1/p' "$f"); do
            found=0
            for d in "$folder" "$@" include; do
                [ -f "$top/$d/$inc" ] && found=1
            done
            if [ $found = 0 ]; then
                echo "$name includes \"$inc\", which is not from $folder/, $* or the public header"
                status=1
            fi
        done
        if grep -nE '^[ \t]*#[ \t]*include[ \t]*<(thread|mutex|atomic|future|condition_variable|nlohmann/[^>]*|unistd\.h|io\.h|termios\.h)>' "$f"; then
            echo "$name: thread, terminal or JSON code belongs to a front end"
            status=1
        fi
    done
    if grep -nE 'tools/|python/' "$top/$folder/CMakeLists.txt"; then
        echo "$folder/CMakeLists.txt reaches into a front end's folder"
        status=1
    fi
}
check reader
check analysis reader
[ $status -eq 0 ] && echo "reader/ and analysis/: each includes only itself, the layers below and the public header"
exit $status
