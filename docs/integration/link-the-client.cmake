find_package(SystemStateWatchdog 2 REQUIRED)
target_link_libraries(my_app PRIVATE SystemStateWatchdog::client)      # C++ and C, static
# or SystemStateWatchdog::client_dll: the C API as system-state-watchdog-client.dll (C#, ...)
if(MINGW)
  # MinGW-w64's own runtime (libstdc++, libgcc, winpthreads) is on no user's machine, and
  # $<TARGET_RUNTIME_DLLS> below does not list it: link it in.
  target_link_options(my_app PRIVATE -static)
endif()
# The watchdog beside the application, and the DLLs it links (the client_dll, if so).
add_custom_command(TARGET my_app POST_BUILD COMMAND "${CMAKE_COMMAND}" -E copy_if_different
                   "$<TARGET_FILE:SystemStateWatchdog::watchdog>" "$<TARGET_RUNTIME_DLLS:my_app>"
                   "$<TARGET_FILE_DIR:my_app>" COMMAND_EXPAND_LISTS)
