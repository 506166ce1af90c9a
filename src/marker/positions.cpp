#include "marker/positions.h"

#include <algorithm>

namespace watchdog {

std::string with_position(std::string description, std::string_view bytes, std::size_t offset) {
    const std::string_view before = bytes.substr(0, offset);
    const auto line = 1 + std::ranges::count(before, '\n');
    const std::size_t last_break = before.rfind('\n');
    const std::size_t line_start = last_break == std::string_view::npos ? 0 : last_break + 1;
    description +=
        " at line " + std::to_string(line) + " column " + std::to_string(offset - line_start + 1);
    return description;
}

} // namespace watchdog
