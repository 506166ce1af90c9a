# The C runtime, for compilers of the MSVC ABI (elsewhere CMake ignores these settings).
#
# The watchdog ships alone, so the executable, the client DLL and everything they link use the
# static runtime. The client archive is linked into the application and must use the
# application's: the one this build is asked for in CMAKE_MSVC_RUNTIME_LIBRARY (vcpkg sets it
# from the triplet's VCPKG_CRT_LINKAGE), the static one when it is asked for none.
set(watchdog_static_runtime "MultiThreaded$<$<CONFIG:Debug>:Debug>")
if(DEFINED CMAKE_MSVC_RUNTIME_LIBRARY)
  set(WATCHDOG_CLIENT_RUNTIME "${CMAKE_MSVC_RUNTIME_LIBRARY}")
else()
  set(WATCHDOG_CLIENT_RUNTIME "${watchdog_static_runtime}")
endif()
set(CMAKE_MSVC_RUNTIME_LIBRARY "${watchdog_static_runtime}")

# The runtime is chosen per target: a /MD or /MT in the flags (vcpkg's port builds put one
# there) would contradict it.
if(MSVC)
  foreach(language C CXX)
    foreach(config DEBUG RELEASE MINSIZEREL RELWITHDEBINFO)
      string(REGEX REPLACE "(^| )[/-]M[DT]d?( |$)" " " CMAKE_${language}_FLAGS_${config}
                           "${CMAKE_${language}_FLAGS_${config}}")
    endforeach()
  endforeach()
endif()

# The package tells an application's build which runtime its client archive has: "static",
# "dynamic", or nothing where the runtime is not the MSVC one.
if(NOT MSVC)
  set(WATCHDOG_CLIENT_CRT "")
elseif(WATCHDOG_CLIENT_RUNTIME MATCHES "DLL")
  set(WATCHDOG_CLIENT_CRT "dynamic")
else()
  set(WATCHDOG_CLIENT_CRT "static")
endif()

# The objects of the given libraries for the client archive: their own where the archive's
# runtime is the watchdog's, otherwise their sources compiled once more with the archive's
# runtime and otherwise the same settings: the library's own, and those of what it links.
function(watchdog_client_archive_objects out_var)
  set(objects "")
  foreach(library IN LISTS ARGN)
    if(NOT MSVC OR WATCHDOG_CLIENT_RUNTIME STREQUAL watchdog_static_runtime)
      list(APPEND objects "$<TARGET_OBJECTS:${library}>")
      continue()
    endif()
    set(twin ${library}_client_runtime)
    # The twin is made in the library's own folder, where its relative sources name the same
    # files.
    get_target_property(sources ${library} SOURCES)
    add_library(${twin} OBJECT ${sources})
    foreach(property IN ITEMS INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS)
      get_target_property(value ${library} ${property})
      if(value)
        set_property(TARGET ${twin} PROPERTY ${property} "${value}")
      endif()
    endforeach()
    get_target_property(libraries ${library} LINK_LIBRARIES)
    target_link_libraries(${twin} PRIVATE ${libraries})
    set_property(TARGET ${twin} PROPERTY MSVC_RUNTIME_LIBRARY "${WATCHDOG_CLIENT_RUNTIME}")
    list(APPEND objects "$<TARGET_OBJECTS:${twin}>")
  endforeach()
  set(${out_var} "${objects}" PARENT_SCOPE)
endfunction()
