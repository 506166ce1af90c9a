#pragma once

// Where in the marker the reader stopped, as a reader of the file finds it: a line and a column.

#include <cstddef>
#include <string>
#include <string_view>

namespace watchdog {

// The description followed by " at line L column C" for the byte at the offset. Lines count from
// 1, and only a line feed starts a new one. Columns count bytes from 1 and name the byte at which
// the reader stopped: the first byte it had not stored in, or one past the last byte when the
// input ran out.
std::string with_position(std::string description, std::string_view bytes, std::size_t offset);

} // namespace watchdog
