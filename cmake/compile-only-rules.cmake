# Executables are not linked in the compile-only check (see toolchain-clang-mingw-w64-x86_64.cmake).
set(CMAKE_C_LINK_EXECUTABLE "<CMAKE_COMMAND> -E touch <TARGET>")
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_COMMAND> -E touch <TARGET>")
