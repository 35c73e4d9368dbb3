# What both MinGW-w64 cross builds share; the toolchain files set
# TIDEMARK_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR, then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the tests std::thread and std::mutex; its
# runtime is linked statically like the rest (the DLL itself carries none).
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
