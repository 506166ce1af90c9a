#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// No Windows header: the marker reader, which is also built natively, includes this.

namespace watchdog {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD instead of failing, because command
// line arguments and class names are not guaranteed to be well-formed UTF-16.
std::string utf16_to_utf8(std::wstring_view text);

// UTF-8 to UTF-16, for text that came from a caller and goes to the system: nothing when the
// text is not well-formed UTF-8, which a replacement character would silently change.
std::optional<std::wstring> utf8_to_utf16(std::string_view text);

// The longest prefix of at most max_bytes bytes that does not split a UTF-8 sequence.
inline std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) {
        return text;
    }
    std::size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

} // namespace watchdog
