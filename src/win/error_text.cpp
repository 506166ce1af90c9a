#include "win/error_text.h"

#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

#include <array>
#include <cstdio>

namespace watchdog {
namespace {

constexpr std::uint32_t nt_facility_bit = 0x10000000;

// The system's text for an HRESULT without its trailing blanks and line breaks; for an
// NT-facility code the text comes from ntdll's message table. Empty when the system has none.
std::string system_message_for_code(std::uint32_t code) {
    const bool nt = (code & nt_facility_bit) != 0;
    const HMODULE ntdll = nt ? GetModuleHandleW(L"ntdll.dll") : nullptr; // in every process
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_FROM_SYSTEM | (nt ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    UniqueLocalMemory<wchar_t> buffer;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the "buffer" argument receives the allocation.
    const DWORD length = FormatMessageW(flags, ntdll, code & ~nt_facility_bit, 0,
                                        reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer) {
        return {};
    }
    std::string text = utf16_to_utf8(std::wstring_view(buffer.get(), length));
    text.erase(text.find_last_not_of(" \t\n\v\f\r") + 1);
    return text;
}

} // namespace

std::string windows_error_text(Win32Failure failure) {
    // 0 as unreported_failure_code, which is no last-error value and so is not converted.
    std::uint32_t code = win32_failure(failure.code).code;
    if (code != unreported_failure_code && static_cast<std::int32_t>(code) > 0) {
        code = (code & 0xFFFF) | 0x80070000; // as HRESULT_FROM_WIN32 converts it
    }
    std::array<char, 11> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%08X", static_cast<unsigned>(code));
    const std::string message = system_message_for_code(code);
    return message.empty() ? std::string(hex.data()) : message + " (" + hex.data() + ")";
}

std::string file_error_text(Win32Failure failure) {
    // A record made with 0 by hand would otherwise find the system's "completed successfully".
    const std::uint32_t code = win32_failure(failure.code).code;
    std::string message = system_message_for_code(code);
    if (message.empty()) {
        message = "unknown error";
    }
    return message + " (os error " + std::to_string(code) + ")";
}

} // namespace watchdog
