#!/bin/sh
# The layers only look down: the reader (reader/) includes nothing from the
# front ends (tools/, python/) and holds no thread, terminal or JSON code;
# each of its quoted includes is its own or the public header.
#   check_layers.sh SOURCE_DIR
set -u
top=$1
status=0
for f in "$top"/reader/*.h "$top"/reader/*.cpp; do
    name=${f#"$top"/}
    for inc in $(sed -n 's/^[ \t]*#[ \t]*include[ \t]*"\([^"]*\)".*/\1/p' "$f"); do
        if [ ! -f "$top/reader/$inc" ] && [ ! -f "$top/include/$inc" ]; then
            echo "$name includes \"$inc\", which is neither the reader's nor the public header"
            status=1
        fi
    done
    if grep -nE '^[ \t]*#[ \t]*include[ \t]*<(thread|mutex|atomic|future|condition_variable|nlohmann/[^>]*|unistd\.h|io\.h|termios\.h)>' "$f"; then
        echo "$name: thread, terminal or JSON code belongs to a front end"
        status=1
    fi
done
if grep -nE 'tools/|python/' "$top/reader/CMakeLists.txt"; then
    echo "reader/CMakeLists.txt reaches into a front end's folder"
    status=1
fi
[ $status -eq 0 ] && echo "reader/: includes only itself and the public header"
exit $status
