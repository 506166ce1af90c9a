#pragma once

#include <string>
#include <string_view>

namespace watchdog {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD instead of failing, because command
// line arguments and class names are not guaranteed to be well-formed UTF-16.
std::string utf16_to_utf8(std::wstring_view text);

} // namespace watchdog
