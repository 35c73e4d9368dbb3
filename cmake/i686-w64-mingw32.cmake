# Cross-build for 32-bit Windows with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TIDEMARK_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model gives the tests std::thread and std::mutex; its
# runtime is linked statically like the rest.
set(CMAKE_C_COMPILER ${TIDEMARK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIDEMARK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TIDEMARK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TIDEMARK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages also outside the MinGW root, so that a Windows build of tidemark
# installed anywhere is found through CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Every floating-point operation rounds to double: x87 code would keep
# intermediates in extended precision and change results.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
