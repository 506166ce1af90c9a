# The installed package: find_package(SystemStateWatchdog) gives SystemStateWatchdog::client (the
# static client library, C++ and C API), SystemStateWatchdog::client_dll (the C API as a DLL),
# SystemStateWatchdog::watchdog (the executable to ship beside the application) and
# SystemStateWatchdog::uninstall (the program an uninstaller runs to put the desktop back).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(watchdog_package_dir "${CMAKE_INSTALL_LIBDIR}/cmake/SystemStateWatchdog")

install(TARGETS system_state_watchdog system_state_watchdog_uninstall watchdog_client_archive
                watchdog_client_dll
        EXPORT SystemStateWatchdogTargets
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
# The public headers, in one folder.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/src/client/include/"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT SystemStateWatchdogTargets NAMESPACE SystemStateWatchdog::
        DESTINATION "${watchdog_package_dir}")

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/SystemStateWatchdogConfig.cmake.in"
                              "${CMAKE_CURRENT_BINARY_DIR}/SystemStateWatchdogConfig.cmake"
                              INSTALL_DESTINATION "${watchdog_package_dir}")
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/SystemStateWatchdogConfigVersion.cmake"
                                 COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/SystemStateWatchdogConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/SystemStateWatchdogConfigVersion.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/SystemStateWatchdogRuntime.cmake"
        DESTINATION "${watchdog_package_dir}")
