#pragma once

#include "win/win32_failure.h"

#include <expected>
#include <string>

namespace watchdog {

// The calling thread's "<window station>\<desktop>", where its shell windows are; or the failure.
std::expected<std::wstring, Win32Failure> current_desktop_identity();

} // namespace watchdog
