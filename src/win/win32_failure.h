#pragma once

// How a failed Win32 call travels: its last-error value, read once, right after the call, and
// carried from there as a value. Almost every call may change it, and so may a destructor that
// runs in between (a temporary name's string, an owner closing its handle).

#include "win/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <expected>

namespace watchdog {

// Some calls fail without setting a last error. Read as 0 such a failure would say "success" in
// every text made from it, so it carries this code instead.
inline constexpr std::uint32_t unreported_failure_code = 0x535F4F4B;

struct Win32Failure {
    std::uint32_t code = unreported_failure_code;

    friend bool operator==(const Win32Failure&, const Win32Failure&) = default;
};

// The failure for a last-error value; 0 becomes unreported_failure_code.
constexpr Win32Failure win32_failure(std::uint32_t last_error) {
    return Win32Failure{last_error == 0 ? unreported_failure_code : last_error};
}

// The calling thread's last error as a failure: the first thing after the call that failed.
inline Win32Failure last_win32_failure() {
    return win32_failure(GetLastError());
}

// A handle that a call returned, owned, or the failure that the call reported by returning none
// (null or INVALID_HANDLE_VALUE). Wrapped around the call itself, it reads the last error before
// any temporary of the calling expression is destroyed.
inline std::expected<UniqueHandle, Win32Failure> handle_or_failure(HANDLE handle) {
    if (KernelHandleTraits::is_none(handle)) {
        return std::unexpected(last_win32_failure());
    }
    return UniqueHandle(handle);
}

} // namespace watchdog
