#pragma once

// What the marker reader meets in the document, in terms that do not depend on the JSON parser:
// the kind of each value and, for numbers and strings, its text.

#include <cstdint>
#include <string_view>
#include <variant>

namespace watchdog {

enum class JsonKind { integer, floating_point, string, boolean, null, map, sequence };

// The value of an integer token; empty when the integer needs more than 64 bits.
using IntegerValue = std::variant<std::monostate, std::int64_t, std::uint64_t>;

// One value as the parser reports it: a scalar, or the opening bracket of an object (map) or of
// an array (sequence).
struct ParsedValue {
    JsonKind kind = JsonKind::null;
    std::string_view text; // a number as written, a string decoded
    bool boolean = false;
    IntegerValue integer;
};

inline ParsedValue value_of_kind(JsonKind kind) {
    ParsedValue value;
    value.kind = kind;
    return value;
}

inline bool opens_container(const ParsedValue& value) {
    return value.kind == JsonKind::map || value.kind == JsonKind::sequence;
}

// The only bytes JSON allows between tokens and around the root value.
constexpr std::string_view json_whitespace = " \t\n\r";

} // namespace watchdog
