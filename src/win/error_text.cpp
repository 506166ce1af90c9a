#include "win/error_text.h"

#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

#include <array>
#include <cstdio>

namespace watchdog {
namespace {

constexpr std::uint32_t nt_facility_bit = 0x10000000;
constexpr DWORD system_message_flags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

std::string format_message(DWORD flags, HMODULE source, DWORD code) {
    UniqueLocalMemory<wchar_t> buffer;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the "buffer" argument receives the allocation.
    const DWORD length = FormatMessageW(flags, source, code, 0,
                                        reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer) {
        return {};
    }
    return utf16_to_utf8(std::wstring_view(buffer.get(), length));
}

} // namespace

std::uint32_t windows_error_code(Win32Failure failure) {
    const std::uint32_t last_error = failure.code;
    if (last_error == unreported_failure_code) {
        return last_error; // not a last-error value, so not converted as one
    }
    const auto as_signed = static_cast<std::int32_t>(last_error);
    const std::uint32_t code = as_signed > 0 ? ((last_error & 0xFFFF) | 0x80070000) : last_error;
    return code == 0 ? unreported_failure_code : code;
}

std::string compose_windows_error_text(std::string_view message, std::uint32_t code) {
    std::array<char, 11> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%08X", static_cast<unsigned>(code));
    if (message.empty()) {
        return std::string(hex.data());
    }
    return std::string(message) + " (" + hex.data() + ")";
}

std::string trim_trailing_whitespace(std::string text) {
    while (!text.empty()) {
        const char last = text.back();
        if (last != ' ' && (last < '\t' || last > '\r')) {
            break;
        }
        text.pop_back();
    }
    return text;
}

std::string system_message_for_code(std::uint32_t code) {
    if ((code & nt_facility_bit) == 0) {
        return trim_trailing_whitespace(format_message(system_message_flags, nullptr, code));
    }
    const UniqueModule ntdll(
        LoadLibraryExA("ntdll.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    const DWORD flags = system_message_flags | FORMAT_MESSAGE_FROM_HMODULE;
    return trim_trailing_whitespace(format_message(flags, ntdll.get(), code & ~nt_facility_bit));
}

std::string windows_error_text(Win32Failure failure) {
    const std::uint32_t code = windows_error_code(failure);
    return compose_windows_error_text(system_message_for_code(code), code);
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
