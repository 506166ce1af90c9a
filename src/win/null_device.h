#pragma once

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <expected>

namespace watchdog {

// The null device (\\.\NUL) opened with an inheritable handle, for a child's standard streams:
// reads end at once, writes vanish.
std::expected<UniqueHandle, Win32Failure> open_inheritable_null_device(DWORD access);

} // namespace watchdog
