#pragma once

// What the stand-in shell's window code shares: registering its classes, and describing a
// failed call.

#include <windows.h>

#include <expected>
#include <string>

namespace watchdog::testing {

// "<what> failed with error <last error>".
std::string failure(const char* what);

// Registers the class once per process and instance. A class of that name with another window
// procedure (registered by other test code) would record nothing, so it counts as a failure.
std::expected<void, std::string> ensure_window_class(HINSTANCE instance, const wchar_t* name,
                                                     WNDPROC procedure);

} // namespace watchdog::testing
