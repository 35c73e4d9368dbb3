#!/bin/sh
# Unpacks the release zip into an empty folder and uses it as a Windows host
# author would, with nothing from the source tree: the checksums and the
# file list; then for each DLL, under Wine, the C example built from the
# zip's header and source, a MinGW host linked against libtidemark.dll.a, an
# MSVC-style host (clang and lld-link, no C runtime) linked against
# tidemark.lib, and the demo host on the bundled sample.
# Usage: check_zip.sh ZIP WINE_RUNNER WIN32_PREFIX WIN64_PREFIX
set -eu
zip=$1
runner=$2
prefix32=$3
prefix64=$4
tests=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
unzip -q "$zip"
root=$(ls)
[ "$(echo "$root" | wc -l)" -eq 1 ] || { echo "the zip holds more than one folder: $root"; exit 1; }
cd "$root"

echo "--- checksums"
sha256sum -c --quiet SHA256SUMS
listed=$(sed 's/^[0-9a-f]* [ *]//' SHA256SUMS | LC_ALL=C sort)
present=$(find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
[ "$listed" = "$present" ] || { echo "SHA256SUMS does not cover exactly the files:"; echo "$listed" >&2; exit 1; }
expected="LICENSE
README.md
load_dll.c
tidemark.h"
for arch in x64 x86; do
    for f in daily-bars.csv libtidemark.dll.a tidemark-scan.exe tidemark.dll tidemark.dll.debug tidemark.lib; do
        expected="$expected
$arch/$f"
    done
done
[ "$present" = "$(echo "$expected" | LC_ALL=C sort)" ] || { echo "unexpected file list:"; echo "$present"; exit 1; }
echo "$(echo "$present" | wc -l) files, each in SHA256SUMS"

example_out="level 0: price 1.00, weight 7
level 1: price 3.00, weight 1
level 2: price 0.00, weight 0
2.95 is at level 1"
status=0
for arch in x86 x64; do
    if [ $arch = x86 ]; then
        cc=i686-w64-mingw32-gcc; cflags="-msse2 -mfpmath=sse"; prefix=$prefix32; target=i686-pc-windows-msvc
        k32="ExitProcess@4 GetStdHandle@4 WriteFile@20"; machine=i386; kill=-k
    else
        cc=x86_64-w64-mingw32-gcc; cflags=; prefix=$prefix64; target=x86_64-pc-windows-msvc
        k32="ExitProcess GetStdHandle WriteFile"; machine=i386:x86-64; kill=
    fi
    echo "--- $arch: the example, built from the zip and run beside $arch/tidemark.dll"
    # shellcheck disable=SC2086
    $cc $cflags -Wall -Wextra -Werror load_dll.c -o $arch/load_dll.exe -static
    out=$(cd $arch && "$runner" "$prefix" ./load_dll.exe | tr -d '\r')
    echo "$out"
    [ "$out" = "$example_out" ] || { echo "$arch: the example printed something else"; status=1; }

    echo "--- $arch: a MinGW host linked against $arch/libtidemark.dll.a"
    # shellcheck disable=SC2086
    $cc $cflags -I. "$tests/consumer/main.c" -L$arch -ltidemark -o $arch/mingw_host.exe -static-libgcc
    (cd $arch && "$runner" "$prefix" ./mingw_host.exe) || { echo "$arch: the MinGW host failed"; status=1; }

    echo "--- $arch: an MSVC-style host linked against $arch/tidemark.lib"
    printf 'LIBRARY KERNEL32.dll\nEXPORTS\n' >"$work/kernel32-$arch.def"
    for f in $k32; do echo "    $f" >>"$work/kernel32-$arch.def"; done
    llvm-dlltool -m $machine $kill -d "$work/kernel32-$arch.def" -l "$work/kernel32-$arch.lib"
    clang --target=$target -ffreestanding -O1 -I. -c "$tests/msvc_consumer.c" -o "$work/msvc_host-$arch.obj"
    lld-link /nologo /entry:start /subsystem:console /nodefaultlib "/out:$arch/msvc_host.exe" \
        "$work/msvc_host-$arch.obj" $arch/tidemark.lib "$work/kernel32-$arch.lib"
    (cd $arch && "$runner" "$prefix" ./msvc_host.exe) || { echo "$arch: the MSVC-style host failed"; status=1; }

    echo "--- $arch: tidemark-scan daily-bars.csv --svg chart.svg"
    (cd $arch && "$runner" "$prefix" ./tidemark-scan.exe daily-bars.csv --svg chart.svg) >"$work/scan-$arch.out" ||
        { echo "$arch: the demo host failed"; status=1; }
    grep 'CheckLevel last close' "$work/scan-$arch.out" | tr -d '\r' || { echo "$arch: no CheckLevel line"; status=1; }
    grep -q '</svg>' $arch/chart.svg || { echo "$arch: no chart"; status=1; }
done
exit $status
