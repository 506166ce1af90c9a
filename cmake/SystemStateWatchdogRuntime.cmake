# Part of the installed package: an application target that links SystemStateWatchdog::client
# must use the C runtime that the client archive was built with. MSVC would only say so when
# linking (LNK2038, "mismatch detected for 'RuntimeLibrary'"); this says it when the project's
# configuration ends, with what to change.

# Every target defined in the directory and the directories below it.
function(_system_state_watchdog_targets_below directory out_var)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    _system_state_watchdog_targets_below("${subdirectory}" below)
    list(APPEND targets ${below})
  endforeach()
  set(${out_var} "${targets}" PARENT_SCOPE)
endfunction()

# client_crt: "static" or "dynamic", the runtime of the client archive.
function(_system_state_watchdog_check_runtime client_crt)
  if(NOT MSVC)
    return() # MSVC_RUNTIME_LIBRARY means nothing to other compilers
  endif()
  if(client_crt STREQUAL "static")
    set(built "the static C runtime (/MT)")
    set(wanted "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    set(triplet "x64-windows-static")
  else()
    set(built "the C runtime DLL (/MD)")
    set(wanted "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
    set(triplet "x64-windows")
  endif()
  _system_state_watchdog_targets_below("${CMAKE_SOURCE_DIR}" targets)
  foreach(target IN LISTS targets)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(NOT "SystemStateWatchdog::client" IN_LIST libraries)
      continue()
    endif()
    get_target_property(runtime ${target} MSVC_RUNTIME_LIBRARY)
    if(NOT runtime)
      set(runtime "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL") # CMake's default
    endif()
    if(runtime MATCHES "DLL")
      set(target_crt "dynamic")
    else()
      set(target_crt "static")
    endif()
    if(NOT target_crt STREQUAL client_crt)
      message(SEND_ERROR
        "${target} links SystemStateWatchdog::client, which was built with ${built}, but "
        "${target} uses MSVC_RUNTIME_LIBRARY \"${runtime}\". Build it with \"${wanted}\" "
        "(CMAKE_MSVC_RUNTIME_LIBRARY, or the target's MSVC_RUNTIME_LIBRARY property), or install "
        "the package for the other runtime (vcpkg: the triplet other than ${triplet}), or link "
        "SystemStateWatchdog::client_dll instead, which works with either runtime.")
    endif()
  endforeach()
endfunction()

# Called by the package's configuration file with the archive's runtime; the check runs once,
# when the top-level directory has been configured.
function(system_state_watchdog_check_runtime_later client_crt)
  get_property(scheduled GLOBAL PROPERTY _system_state_watchdog_runtime_check)
  if(scheduled OR NOT client_crt)
    return()
  endif()
  set_property(GLOBAL PROPERTY _system_state_watchdog_runtime_check TRUE)
  # A deferred call's arguments are read when it runs: the value goes in now, as code.
  cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]]
                            CALL _system_state_watchdog_check_runtime [[${client_crt}]])")
endfunction()
