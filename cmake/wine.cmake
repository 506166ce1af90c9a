# Under a cross build every test runs under Wine, inside a prefix that belongs to this build
# tree and never to the user's home. The wrapper pins that prefix and quiets Wine's chatter.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(WATCHDOG_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of this build tree")
  set(WATCHDOG_WINE_LAUNCHER "${CMAKE_CROSSCOMPILING_EMULATOR}")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-exec.in" "${CMAKE_BINARY_DIR}/wine-exec" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-exec")
endif()
