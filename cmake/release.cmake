# What a release carries besides the binaries: the licence and the third-party notices go
# wherever the binaries go (the install, and with it the package, the vcpkg port and the
# archive that scripts/release.sh packs).
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES.md"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/system-state-watchdog")

# The linker's map of each shipped binary names every library and object it took code from:
# the test suite holds the notices to that list.
if(MINGW)
  set(watchdog_link_maps "${PROJECT_BINARY_DIR}/link-maps")
  file(MAKE_DIRECTORY "${watchdog_link_maps}")
  foreach(shipped system_state_watchdog system_state_watchdog_uninstall watchdog_client_dll)
    target_link_options(${shipped} PRIVATE "-Wl,-Map=${watchdog_link_maps}/${shipped}.map")
  endforeach()
endif()
