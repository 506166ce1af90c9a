#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace watchdog {

// The code reported for a failed Win32 call: its last-error value converted the way
// HRESULT_FROM_WIN32 does. A call that failed without setting an error would otherwise read as
// "success", so 0 becomes the private marker code 0x535F4F4B.
std::uint32_t windows_error_code(std::uint32_t last_error);

// "message (0xXXXXXXXX)", or the bare code when the system has no text for it.
std::string compose_windows_error_text(std::string_view message, std::uint32_t code);

// Removes trailing tabs, line breaks (U+0009..U+000D) and spaces.
std::string trim_trailing_whitespace(std::string text);

// The system's text for an HRESULT; for an NT-facility code the text comes from ntdll's
// message table. Empty when the system has none.
std::string system_message_for_code(std::uint32_t code);

// The whole error text for a failed Win32 call whose last-error value was read right after it.
std::string windows_error_text(std::uint32_t last_error);

// The text for a failed file operation: "message (os error N)".
std::string file_error_text(std::uint32_t os_error);

} // namespace watchdog
