#pragma once

#include "win/win32_failure.h"

#include <windows.h>

#include <expected>
#include <string_view>

namespace watchdog {

// The signature of WriteFile, so that tests can give a file that takes less than it is given.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Writes all of `bytes` at the file's position, in as many WriteFile calls as it takes; one that
// accepts nothing ends it with ERROR_WRITE_FAULT, so a full file never holds the caller in a loop.
std::expected<void, Win32Failure> write_all(HANDLE file, std::string_view bytes,
                                            WriteFileFunction write = WriteFile);

using FlushFunction = BOOL(WINAPI*)(HANDLE);

// write_all, then the file's buffers flushed to the disk: for a file that is to replace another
// in one step, which must never be found empty or in part after a power cut.
std::expected<void, Win32Failure> write_durably(HANDLE file, std::string_view bytes,
                                                FlushFunction flush = FlushFileBuffers,
                                                WriteFileFunction write = WriteFile);

} // namespace watchdog
