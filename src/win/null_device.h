#pragma once

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <expected>

namespace watchdog {

// The null device (\\.\NUL) opened with an inheritable handle, for a child's standard streams:
// reads end at once, writes vanish.
inline std::expected<UniqueHandle, Win32Failure> open_inheritable_null_device(DWORD access) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return handle_or_failure(CreateFileW(L"\\\\.\\NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
}

} // namespace watchdog
