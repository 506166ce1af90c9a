#pragma once

// How the marker reader words the problems it meets: every description but the JSON parser's own
// syntax errors is built here. The position is added afterwards (positions.h).

#include "marker/fields.h"
#include "marker/parsed_value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace watchdog {

constexpr std::string_view trailing_characters = "trailing characters";
constexpr std::string_view trailing_comma = "trailing comma";
// Fits the inline buffer of std::string, so it can still be returned when memory has run out.
constexpr std::string_view out_of_memory = "out of memory";

// A value of the wrong JSON type, or a number with a fraction or an exponent for an integer.
std::string invalid_type(const ParsedValue& value, std::string_view expected);
// An integer outside the field's range.
std::string invalid_value(const ParsedValue& value, std::string_view expected);
std::string missing_field(std::string_view key);
std::string duplicate_field(std::string_view key);
// An array form with fewer elements than the record has fields.
std::string invalid_length(std::size_t count, std::string_view expected);

constexpr std::string_view integer_expectation(std::type_identity<std::uint8_t>) {
    return "u8";
}
constexpr std::string_view integer_expectation(std::type_identity<std::int32_t>) {
    return "i32";
}
constexpr std::string_view integer_expectation(std::type_identity<std::uint32_t>) {
    return "u32";
}
constexpr std::string_view integer_expectation(std::type_identity<std::int64_t>) {
    return "i64";
}

template <typename Record> std::string record_expectation() {
    return "struct " + std::string(Declaration<Record>::name);
}

template <typename Record> std::string length_expectation() {
    constexpr std::size_t count = field_count<Record>;
    return record_expectation<Record>() + " with " + std::to_string(count) +
           (count == 1 ? " element" : " elements");
}

} // namespace watchdog
