#pragma once

#include "win/win32_failure.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace watchdog {

// The two texts made for a failed Win32 call. Both come from the failure's code, so a failure
// that set no last error reads as unreported_failure_code in either, never as success.

// The code shown for a failure: its last-error value converted the way HRESULT_FROM_WIN32 does.
// unreported_failure_code stays as it is.
std::uint32_t windows_error_code(Win32Failure failure);

// "message (0xXXXXXXXX)", or the bare code when the system has no text for it.
std::string compose_windows_error_text(std::string_view message, std::uint32_t code);

// Removes trailing tabs, line breaks (U+0009..U+000D) and spaces.
std::string trim_trailing_whitespace(std::string text);

// The system's text for an HRESULT; for an NT-facility code the text comes from ntdll's
// message table. Empty when the system has none.
std::string system_message_for_code(std::uint32_t code);

// The Windows error text: the system's text for windows_error_code, then that code.
std::string windows_error_text(Win32Failure failure);

// The file error text: "message (os error N)", N the failure's code in decimal.
std::string file_error_text(Win32Failure failure);

} // namespace watchdog
