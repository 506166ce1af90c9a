# An overlay port for this checkout (vcpkg install system-state-watchdog
# --overlay-ports=<checkout>/ports): the executable, the client library and its CMake package,
# without the test suite and the tools.
set(SOURCE_PATH "${CMAKE_CURRENT_LIST_DIR}/../..")

vcpkg_cmake_configure(SOURCE_PATH "${SOURCE_PATH}"
                      OPTIONS -DWATCHDOG_BUILD_TESTS=OFF -DWATCHDOG_BUILD_TOOLS=OFF)
vcpkg_cmake_install()
vcpkg_cmake_config_fixup(PACKAGE_NAME SystemStateWatchdog CONFIG_PATH lib/cmake/SystemStateWatchdog)

# The package's SystemStateWatchdog::watchdog target names the executable where it is installed,
# beside the client DLL: it ships beside the application that uses it.
set(VCPKG_POLICY_ALLOW_EXES_IN_BIN enabled)
# The debug install repeats the headers and the licence files; the release one keeps them.
file(REMOVE_RECURSE "${CURRENT_PACKAGES_DIR}/debug/include" "${CURRENT_PACKAGES_DIR}/debug/share")
# The copyright file: the project's licence, then the notices of what the binaries carry.
vcpkg_install_copyright(FILE_LIST "${SOURCE_PATH}/LICENSE" "${SOURCE_PATH}/THIRD-PARTY-NOTICES.md")
