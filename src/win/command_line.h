#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

// Splits a command line the way the Microsoft C runtime builds argv, argument 0 included.
// Arguments stay UTF-16 code units, so malformed UTF-16 passes through untouched.
std::vector<std::wstring> split_command_line(std::wstring_view command_line);

// Encodes one argument so that split_command_line gives it back unchanged. Quotes are added
// only when needed (empty, or a space or tab inside).
std::wstring quote_argument(std::wstring_view argument);

// "<quoted program path>" followed by each encoded argument after one space.
std::wstring build_command_line(std::wstring_view program_path,
                                const std::vector<std::wstring>& arguments);

} // namespace watchdog
