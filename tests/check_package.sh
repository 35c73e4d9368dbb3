#!/bin/sh
# Installs a build into a fresh prefix, then configures, builds and runs a
# tiny project that finds it with find_package(tidemark).
# Usage: check_package.sh BUILD_DIR SOURCE_DIR [TOOLCHAIN_FILE WINE_RUNNER WINE_PREFIX]
set -eu
build=$1
src=$2
work=$build/package-check
rm -rf "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
if [ $# -ge 5 ]; then
    # The three steps the README gives for a cross build: install with
    # --prefix, point CMAKE_PREFIX_PATH at it, put the DLL beside the program.
    cmake -S "$src/tests/consumer" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$3" \
        -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    cmake --build "$work/build" >/dev/null
    cp "$work/prefix/bin/tidemark.dll" "$work/build/"
    "$4" "$5" "$work/build/consumer.exe"
else
    cmake -S "$src/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    cmake --build "$work/build" >/dev/null
    "$work/build/consumer"
fi
