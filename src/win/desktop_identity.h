#pragma once

#include "win/win32_failure.h"

#include <expected>
#include <string>

namespace watchdog {

// "<window station>\<desktop>" of the calling thread: the desktop whose shell windows it finds
// and changes; or the failure that asking gave.
std::expected<std::wstring, Win32Failure> current_desktop_identity();

} // namespace watchdog
