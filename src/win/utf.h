#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD instead of failing, because command
// line arguments and class names are not guaranteed to be well-formed UTF-16.
std::string utf16_to_utf8(std::wstring_view text);

// UTF-8 to UTF-16, for text that came from a caller and goes to the system: nothing when the
// text is not well-formed UTF-8, which a replacement character would silently change.
std::optional<std::wstring> utf8_to_utf16(std::string_view text);

} // namespace watchdog
