# An overlay port for this checkout (vcpkg install system-state-watchdog
# --overlay-ports=<checkout>/ports): the executable, the uninstall program, the client library and
# its CMake package, without the test suite and the tools.
set(SOURCE_PATH "${CMAKE_CURRENT_LIST_DIR}/../..")

# Triplets x64-windows and x64-windows-static. The executable and the client DLL ship alone beside
# the application, so both carry the static C runtime whatever the triplet. The client archive
# (SystemStateWatchdog::client) is linked into the application, so it is built with the
# triplet's C runtime: /MD with x64-windows, /MT with x64-windows-static.
if(VCPKG_CRT_LINKAGE STREQUAL "dynamic")
  set(client_runtime "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
else()
  set(client_runtime "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

vcpkg_cmake_configure(SOURCE_PATH "${SOURCE_PATH}"
                      OPTIONS -DWATCHDOG_BUILD_TESTS=OFF -DWATCHDOG_BUILD_TOOLS=OFF
                              "-DCMAKE_MSVC_RUNTIME_LIBRARY=${client_runtime}")
vcpkg_cmake_install()
vcpkg_cmake_config_fixup(PACKAGE_NAME SystemStateWatchdog CONFIG_PATH lib/cmake/SystemStateWatchdog)

# What vcpkg's post-build checks would refuse otherwise. They check the C runtime of the static
# libraries only (the client archive, which follows the triplet), not that of DLLs or executables.
# The package's SystemStateWatchdog::watchdog and ::uninstall targets name the executables where
# they are installed, beside the client DLL: they ship beside the application that uses them.
set(VCPKG_POLICY_ALLOW_EXES_IN_BIN enabled)
# A static triplet gets the C API's DLL too: languages that reach C functions only through a DLL
# (C# among them) need it whatever the triplet.
if(VCPKG_LIBRARY_LINKAGE STREQUAL "static")
  set(VCPKG_POLICY_DLLS_IN_STATIC_LIBRARY enabled)
endif()
# The debug install repeats the headers and the licence files; the release one keeps them.
file(REMOVE_RECURSE "${CURRENT_PACKAGES_DIR}/debug/include" "${CURRENT_PACKAGES_DIR}/debug/share")
# The copyright file: the project's licence, then the notices of what the binaries carry.
vcpkg_install_copyright(FILE_LIST "${SOURCE_PATH}/LICENSE" "${SOURCE_PATH}/THIRD-PARTY-NOTICES.md")
