# Cross build for Windows x64 with Debian's MinGW-w64 (posix thread model).
# Test executables run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages are looked for in the prefixes a project names (CMAKE_PREFIX_PATH, as on Windows) as
# well as under the MinGW root: ONLY would put every prefix under the root, so that an installed
# package outside it could be found through <Package>_DIR alone.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(WATCHDOG_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${WATCHDOG_WINE}")
