# The overlay port's choices per triplet, checked on any host: the portfile runs in script mode
# with stand-ins for the vcpkg functions it calls, and the C runtime it asks the build for and the
# post-build policies it sets are compared with what the triplet needs.
#
# Usage: cmake -DWORK_DIR=<scratch folder> -P overlay_port.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT WORK_DIR)
  # The portfile removes folders below CURRENT_PACKAGES_DIR, which must not be the file system's
  # root.
  message(FATAL_ERROR "usage: cmake -DWORK_DIR=<scratch folder> -P overlay_port.cmake")
endif()
set(portfile "${CMAKE_CURRENT_LIST_DIR}/../../ports/system-state-watchdog/portfile.cmake")

# Each stand-in records its arguments under its own name.
foreach(name IN ITEMS vcpkg_cmake_configure vcpkg_cmake_install vcpkg_cmake_config_fixup
                      vcpkg_install_copyright)
  cmake_language(EVAL CODE "function(${name})
                              set_property(GLOBAL PROPERTY ${name}_arguments \"\${ARGN}\")
                            endfunction()")
endforeach()

set(static "MultiThreaded$<$<CONFIG:Debug>:Debug>")
set(dynamic "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
# triplet | VCPKG_CRT_LINKAGE | VCPKG_LIBRARY_LINKAGE | the client archive's runtime |
# VCPKG_POLICY_DLLS_IN_STATIC_LIBRARY (the executable in bin is allowed in every triplet)
set(rows
  "x64-windows|dynamic|dynamic|${dynamic}|unset"
  "x64-windows-static|static|static|${static}|enabled"
  "x64-windows-static-md|dynamic|static|${dynamic}|enabled"
)

function(check_triplet triplet crt_linkage library_linkage runtime dlls_in_static_library)
  set(VCPKG_CRT_LINKAGE "${crt_linkage}")
  set(VCPKG_LIBRARY_LINKAGE "${library_linkage}")
  set(CURRENT_PACKAGES_DIR "${WORK_DIR}/${triplet}")
  set_property(GLOBAL PROPERTY vcpkg_cmake_configure_arguments "")
  include("${portfile}")

  get_property(options GLOBAL PROPERTY vcpkg_cmake_configure_arguments)
  list(FILTER options INCLUDE REGEX "^-DCMAKE_MSVC_RUNTIME_LIBRARY=")
  set(problems "")
  if(NOT options STREQUAL "-DCMAKE_MSVC_RUNTIME_LIBRARY=${runtime}")
    list(APPEND problems "runtime options \"${options}\", expected the runtime \"${runtime}\"")
  endif()
  if(NOT VCPKG_POLICY_ALLOW_EXES_IN_BIN STREQUAL "enabled")
    list(APPEND problems "VCPKG_POLICY_ALLOW_EXES_IN_BIN \"${VCPKG_POLICY_ALLOW_EXES_IN_BIN}\"")
  endif()
  set(dlls_policy unset)
  if(DEFINED VCPKG_POLICY_DLLS_IN_STATIC_LIBRARY)
    set(dlls_policy "${VCPKG_POLICY_DLLS_IN_STATIC_LIBRARY}")
  endif()
  if(NOT dlls_policy STREQUAL dlls_in_static_library)
    list(APPEND problems
         "VCPKG_POLICY_DLLS_IN_STATIC_LIBRARY ${dlls_policy}, expected ${dlls_in_static_library}")
  endif()
  if(problems)
    list(JOIN problems "; " problems)
    message(SEND_ERROR "FAIL ${triplet}: ${problems}")
  else()
    message(STATUS "ok   ${triplet}: client archive ${runtime}")
  endif()
endfunction()

foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  check_triplet(${fields})
endforeach()
