#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace watchdog {

// The full path of the running executable, however long it is; the Win32 error code when the
// system cannot say it.
std::expected<std::wstring, std::uint32_t> current_executable_path();

} // namespace watchdog
