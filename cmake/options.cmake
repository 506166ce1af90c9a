# Warnings are errors everywhere; every target of the project links this.
add_library(watchdog_options INTERFACE)
target_compile_definitions(watchdog_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
if(MSVC)
  target_compile_options(watchdog_options INTERFACE /W4 /WX /permissive- /utf-8 /EHsc)
else()
  target_compile_options(watchdog_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror
    # Designated initialisers leave the other members value-initialised on purpose.
    -Wno-missing-field-initializers)
endif()

# Every executable links the runtime statically: the product may import system DLLs only, and
# the tests must run in a bare Wine prefix that has no MinGW runtime DLLs.
if(MINGW)
  target_link_options(watchdog_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# A release build gives the same bytes from any folder at any time (scripts/release.sh checks
# it): no build folder in what the compiler writes (file names that assertions and Boost's
# error locations keep), no link time in the PE headers. Debug builds keep their full paths for
# the debugger.
if(MINGW)
  target_compile_options(watchdog_options INTERFACE
    "$<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
    "$<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")
  target_link_options(watchdog_options INTERFACE -Wl,--no-insert-timestamp)
endif()
