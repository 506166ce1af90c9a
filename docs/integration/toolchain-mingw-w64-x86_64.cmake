# Windows x64 programs built on Linux with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix), the
# posix thread model that the client library was built with: cmake --toolchain <this file>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries, headers and packages for Windows, never the host's: looked for under the MinGW-w64
# root and under the roots given on the command line (-DCMAKE_FIND_ROOT_PATH=<archive>). So
# CMAKE_PREFIX_PATH alone does not find a package outside them: name it by
# -DSystemStateWatchdog_DIR=<archive>/lib/cmake/SystemStateWatchdog, or its folder as a root.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
