#include "win/utf.h"

#include <windows.h>

namespace watchdog {

std::string utf16_to_utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    // Without WC_ERR_INVALID_CHARS an unpaired surrogate becomes U+FFFD.
    const auto size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::optional<std::wstring> utf8_to_utf16(std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    const auto size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

} // namespace watchdog
