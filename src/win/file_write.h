#pragma once

#include <windows.h>

#include <cstdint>
#include <expected>
#include <string_view>

namespace watchdog {

// The signature of WriteFile, so that tests can give a file that takes less than it is given.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Writes all of `bytes` at the file's position, in as many WriteFile calls as it takes. A call
// that accepts nothing ends it (ERROR_WRITE_FAULT when the system gave no reason), so a file
// that takes no more can never hold the caller in a loop.
std::expected<void, std::uint32_t> write_all(HANDLE file, std::string_view bytes,
                                             WriteFileFunction write = WriteFile);

} // namespace watchdog
