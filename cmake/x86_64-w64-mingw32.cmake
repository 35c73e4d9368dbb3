# Cross-build for 64-bit Windows with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TIDEMARK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# x86-64 computes in SSE2 already; no x87 arithmetic to turn off.
