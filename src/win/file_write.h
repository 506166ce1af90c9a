#pragma once

#include <windows.h>

#include <cstdint>
#include <expected>
#include <string_view>

namespace watchdog {

// Writes all of `bytes` at the file's position, in as many WriteFile calls as it takes. A call
// that accepts nothing ends it (ERROR_WRITE_FAULT when the system gave no reason), so a file
// that takes no more can never hold the caller in a loop.
std::expected<void, std::uint32_t> write_all(HANDLE file, std::string_view bytes);

} // namespace watchdog
