# A second compiler over the same tree: Debian's clang for Windows x64, with the MinGW-w64
# headers and libstdc++ that the GCC build uses. It only compiles: clang's objects do not link
# against GCC's static libstdc++ (duplicate type-information sections of different sizes),
# which is no fault of ours, and the tests run on the GCC build anyway.
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64-x86_64.cmake")

set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)

# Loaded after the platform's own rules, so that linking an executable only marks it done.
set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/compile-only-rules.cmake")
