# Sourced by the scripts in this folder: makes sure the Debian packages that a
# command needs are installed. As root it installs what is missing; otherwise
# it prints the exact command to run and stops. Everything it says, and all
# that apt prints, goes to stderr: stdout belongs to the command that sourced
# it (scripts/demo --json > out.json).
#
#   tm_require native cross wine qemu package fuzz analysis python ...   (groups below)

tm_have_pkg() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

tm_missing_for() {
    case $1 in
        native)
            command -v cmake >/dev/null || echo cmake
            command -v g++ >/dev/null || echo g++
            command -v make >/dev/null || echo make
            [ -f /usr/src/googletest/CMakeLists.txt ] || echo googletest
            # header-only, used by tidemark-scan natively and in the cross build
            [ -f /usr/include/nlohmann/json.hpp ] || echo nlohmann-json3-dev
            # zlib, for the reader's .csv.gz files
            tm_have_pkg zlib1g-dev || echo zlib1g-dev
            ;;
        cross)
            command -v i686-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-i686
            command -v i686-w64-mingw32-objdump >/dev/null || echo binutils-mingw-w64-i686
            command -v x86_64-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-x86-64
            command -v x86_64-w64-mingw32-objdump >/dev/null || echo binutils-mingw-w64-x86-64
            # zlib for both Windows targets, linked statically into tidemark-scan.exe
            tm_have_pkg libz-mingw-w64-dev || echo libz-mingw-w64-dev
            ;;
        bench)
            [ -f /usr/include/benchmark/benchmark.h ] || echo libbenchmark-dev
            ;;
        fuzz)
            command -v clang++ >/dev/null || echo clang
            # libFuzzer and the sanitizer runtimes for clang
            ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
                || echo libclang-rt-dev
            ;;
        analysis)
            # clang itself for its compiler headers (32-bit Windows pass)
            command -v clang >/dev/null || echo clang
            command -v clang-tidy >/dev/null || echo clang-tidy
            command -v cppcheck >/dev/null || echo cppcheck
            ;;
        wine)
            command -v wine >/dev/null || echo wine
            tm_have_pkg wine32:i386 || echo wine32:i386
            # 64-bit programs; `wine` runs both kinds once it is there.
            tm_have_pkg wine64 || echo wine64
            ;;
        qemu)
            # Runs the native tests as a processor without AVX would.
            command -v qemu-x86_64 >/dev/null || echo qemu-user
            ;;
        package)
            command -v zip >/dev/null || echo zip
            command -v unzip >/dev/null || echo unzip
            # The MSVC-style import libraries, and the host that tests them.
            command -v llvm-dlltool >/dev/null || echo llvm
            command -v lld-link >/dev/null || echo lld
            command -v clang >/dev/null || echo clang
            ;;
        python)
            # Debian's interpreter and packages (another python3 may come
            # first on PATH; the scripts call /usr/bin/python3). venv and pip
            # for the README's install command, build and wheel for the
            # source distribution and wheel (scripts/package python), scipy
            # for the benchmark, dask for screens of dask DataFrames, mypy
            # for the tests that type-check the documented examples. The extension is compiled with CMake and
            # g++ from the library's, the reader's and its own sources
            # (zlib for gzip files; nlohmann's JSON headers for the demo
            # command that the tests run beside the package).
            command -v cmake >/dev/null || echo cmake
            command -v g++ >/dev/null || echo g++
            command -v make >/dev/null || echo make
            local p
            for p in python3 python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pandas \
                     python3-pytest python3-hypothesis python3-distributed python3-dask python3-scipy python3-mypy \
                     python3-venv python3-pip python3-setuptools python3-wheel python3-build \
                     zlib1g-dev nlohmann-json3-dev; do
                tm_have_pkg "$p" || echo "$p"
            done
            ;;
        *) echo "tm_require: unknown group $1" >&2; return 1 ;;
    esac
}

tm_require() {
    local missing="" group
    for group in "$@"; do
        missing="$missing $(tm_missing_for "$group" | tr '\n' ' ')"
    done
    missing=$(echo $missing)
    [ -z "$missing" ] && return 0

    local arch=""
    case " $missing " in *":i386 "*) arch="dpkg --add-architecture i386 && " ;; esac
    local cmd="${arch}apt-get update && apt-get install -y --no-install-recommends $missing"
    if [ "$(id -u)" != 0 ]; then
        echo "Missing packages: $missing" >&2
        echo "Install them as root with:" >&2
        echo "  $cmd" >&2
        exit 1
    fi
    echo "Installing: $missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    sh -c "$cmd" >&2
}
