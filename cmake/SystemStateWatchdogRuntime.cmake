# Part of the installed package: an application target that links SystemStateWatchdog::client
# must use the C runtime that the client archive was built with, and must be linked with the C++
# runtime. MSVC would only say the first when linking (LNK2038, "mismatch detected for
# 'RuntimeLibrary'"), and a C project of MinGW-w64 or the like would fail to link with undefined
# C++ symbols (operator new, __gxx_personality_seh0); this says either when the project's
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

# The archive is C++: CMake links a target with the C++ compiler's runtime when the target's
# project enables CXX (the archive's link languages say CXX). Without it, it links with the C
# compiler alone, and the C++ runtime is missing. MSVC's linker takes the runtime from the
# objects themselves.
function(_system_state_watchdog_check_languages target)
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT MSVC AND NOT "CXX" IN_LIST languages)
    message(SEND_ERROR
      "${target} links SystemStateWatchdog::client, a static C++ library, but the project has "
      "not enabled CXX, so CMake would link it without the C++ runtime. Enable CXX "
      "(project(... LANGUAGES C CXX), or enable_language(CXX)); the target's own sources may stay "
      "C. Or link SystemStateWatchdog::client_dll instead, the same C API as a DLL.")
  endif()
endfunction()

# client_crt: "static" or "dynamic", the runtime of the client archive.
function(_system_state_watchdog_check_crt target client_crt)
  if(NOT MSVC OR NOT client_crt)
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
endfunction()

function(_system_state_watchdog_check_runtime client_crt)
  _system_state_watchdog_targets_below("${CMAKE_SOURCE_DIR}" targets)
  foreach(target IN LISTS targets)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if("SystemStateWatchdog::client" IN_LIST libraries)
      _system_state_watchdog_check_languages(${target})
      _system_state_watchdog_check_crt(${target} "${client_crt}")
    endif()
  endforeach()
endfunction()

# Called by the package's configuration file with the archive's C runtime ("" where it is not
# the MSVC one); the check runs once, when the top-level directory has been configured.
function(system_state_watchdog_check_runtime_later client_crt)
  get_property(scheduled GLOBAL PROPERTY _system_state_watchdog_runtime_check)
  if(scheduled)
    return()
  endif()
  set_property(GLOBAL PROPERTY _system_state_watchdog_runtime_check TRUE)
  # A deferred call's arguments are read when it runs: the value goes in now, as code.
  cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]]
                            CALL _system_state_watchdog_check_runtime [[${client_crt}]])")
endfunction()
