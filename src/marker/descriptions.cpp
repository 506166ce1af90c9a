#include "marker/descriptions.h"

#include "win/utf.h"

namespace watchdog {
namespace {

// Numbers and strings quoted in descriptions are cut to this many bytes: a description ends up
// in a log line, and a marker of megabytes must not turn into a log line of megabytes.
constexpr std::size_t quoted_text_limit = 64;

// Cuts text to the limit without splitting a UTF-8 sequence, and marks the cut.
std::string shortened(std::string_view text) {
    const std::string_view kept = utf8_prefix(text, quoted_text_limit);
    return kept.size() == text.size() ? std::string(text) : std::string(kept) + "…";
}

std::string described(const ParsedValue& value) {
    switch (value.kind) {
    case JsonKind::integer:
        return "integer `" + shortened(value.text) + "`";
    case JsonKind::floating_point:
        return "floating point `" + shortened(value.text) + "`";
    case JsonKind::string:
        return "string " + json_string(shortened(value.text));
    case JsonKind::boolean:
        return value.boolean ? "boolean `true`" : "boolean `false`";
    case JsonKind::null:
        return "null";
    case JsonKind::map:
        return "map";
    case JsonKind::sequence:
        return "sequence";
    }
    return "value";
}

} // namespace

std::string invalid_type(const ParsedValue& value, std::string_view expected) {
    return "invalid type: " + described(value) + ", expected " + std::string(expected);
}

std::string invalid_value(const ParsedValue& value, std::string_view expected) {
    return "invalid value: " + described(value) + ", expected " + std::string(expected);
}

std::string missing_field(std::string_view key) {
    return "missing field `" + std::string(key) + "`";
}

std::string duplicate_field(std::string_view key) {
    return "duplicate field `" + std::string(key) + "`";
}

std::string invalid_length(std::size_t count, std::string_view expected) {
    return "invalid length " + std::to_string(count) + ", expected " + std::string(expected);
}

} // namespace watchdog
