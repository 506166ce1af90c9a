# The C runtime settings that cmake/runtime.cmake makes for each request a build can bring,
# checked on any host: the file is included in script mode once per row, with MSVC set as a
# compiler of the MSVC ABI sets it (or not, as with MinGW).
#
# Usage: cmake -P runtime_settings.cmake
cmake_minimum_required(VERSION 3.25)
set(runtime_file "${CMAKE_CURRENT_LIST_DIR}/../../cmake/runtime.cmake")

set(static "MultiThreaded$<$<CONFIG:Debug>:Debug>")
set(dynamic "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
# The build: MSVC set or not, the CMAKE_MSVC_RUNTIME_LIBRARY it asks for ("" for none) | the
# client archive's runtime, the package's label for it, and the toolchain's C++ debug flags
# "/Zi /MDd /Od" afterwards. The watchdog's own runtime is the static one in every row.
set(columns msvc request client_runtime client_crt debug_flags)
set(rows
  "1|${dynamic}|${dynamic}|dynamic|/Zi /Od"
  "1|MultiThreadedDLL|MultiThreadedDLL|dynamic|/Zi /Od"
  "1|${static}|${static}|static|/Zi /Od"
  "1||${static}|static|/Zi /Od"
  "0|${dynamic}|${dynamic}||/Zi /MDd /Od"
)

macro(expect variable expected)
  if(NOT "${${variable}}" STREQUAL "${expected}")
    list(APPEND problems "${variable} \"${${variable}}\", expected \"${expected}\"")
  endif()
endmacro()

function(check_settings row)
  string(REPLACE "|" ";" fields "${row}")
  foreach(column value IN ZIP_LISTS columns fields)
    set(${column} "${value}")
  endforeach()
  set(MSVC ${msvc})
  if(NOT request STREQUAL "")
    set(CMAKE_MSVC_RUNTIME_LIBRARY "${request}")
  endif()
  set(CMAKE_CXX_FLAGS_DEBUG "/Zi /MDd /Od")
  include("${runtime_file}")

  set(problems "")
  expect(WATCHDOG_CLIENT_RUNTIME "${client_runtime}")
  expect(WATCHDOG_CLIENT_CRT "${client_crt}")
  expect(CMAKE_MSVC_RUNTIME_LIBRARY "${static}")
  expect(CMAKE_CXX_FLAGS_DEBUG "${debug_flags}")
  set(label "MSVC ${msvc}, request \"${request}\"")
  if(problems)
    list(JOIN problems "; " problems)
    message(SEND_ERROR "FAIL ${label}: ${problems}")
  else()
    message(STATUS "ok   ${label}: client archive \"${client_crt}\"")
  endif()
endfunction()

foreach(row IN LISTS rows)
  check_settings("${row}")
endforeach()
