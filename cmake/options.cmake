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
