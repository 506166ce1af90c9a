// The marker reader, and the one place that knows the JSON parser: Boost's SAX parser reports the
// document's events, a stack of frames (the containers being filled, innermost last) stores them
// into the records by their field declaration (fields.h), and every problem but the parser's own
// syntax errors is worded here.

#include "marker/recovery_marker.h"

#include "marker/fields.h"
#include "win/utf.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/system/error_code.hpp>

#include <algorithm>
#include <bitset>
#include <climits>
#include <concepts>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace watchdog {
namespace {

namespace json = boost::json;
// Boost.JSON's own name for it, json::error_code, is gone from Boost 1.87 on.
using ErrorCode = boost::system::error_code;

// Deep enough for anything a newer writer might put beside the known keys. Boost keeps its own
// stack instead of recursing, so the limit bounds memory, not the call stack.
constexpr std::size_t max_nesting_depth = 128;

// Numbers and strings quoted in descriptions are cut to this many bytes: a description ends up
// in a log line, and a marker of megabytes must not turn into a log line of megabytes.
constexpr std::size_t quoted_text_limit = 64;

// Fits the inline buffer of std::string, so it can still be returned when memory has run out.
constexpr std::string_view out_of_memory = "out of memory";
constexpr std::string_view trailing_characters = "trailing characters";

// The only bytes JSON allows between tokens and around the root value.
constexpr std::string_view json_whitespace = " \t\n\r";

// What the reader meets in the document, independent of the parser, and how descriptions name it.

enum class JsonKind { integer, floating_point, string, boolean, null, map, sequence };

// The value of an integer token; empty when the integer needs more than 64 bits.
using IntegerValue = std::variant<std::monostate, std::int64_t, std::uint64_t>;

// One value as the parser reports it: a scalar, or the opening bracket of an object (map) or of
// an array (sequence).
struct ParsedValue {
    JsonKind kind = JsonKind::null;
    std::string_view text = {}; // a number as written, a string decoded
    bool boolean = false;
    IntegerValue integer = {};
};

bool opens_container(const ParsedValue& value) {
    return value.kind == JsonKind::map || value.kind == JsonKind::sequence;
}

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

// A value of the wrong JSON type, or a number with a fraction or an exponent for an integer.
std::string invalid_type(const ParsedValue& value, std::string_view expected) {
    return "invalid type: " + described(value) + ", expected " + std::string(expected);
}

// u8, i32, u32, i64: signedness and width.
template <std::integral T> std::string integer_expectation() {
    return (std::is_signed_v<T> ? "i" : "u") + std::to_string(sizeof(T) * CHAR_BIT);
}

template <typename Record> std::string record_expectation() {
    return "struct " + std::string(Declaration<Record>::name);
}

// Storing parsed values into the records by their field declaration.

template <typename Record> struct RecordFrame {
    Record* record = nullptr;
    bool array_form = false;
    // Array form: the field of the next element, and so the count of elements begun.
    // Object form: the field of the key just read.
    std::size_t field = 0;
    std::bitset<field_count<Record>> seen = {}; // object form: the defined keys met so far
};

template <typename Element> struct SequenceFrame { std::vector<Element>* elements = nullptr; };

using Frame =
    std::variant<RecordFrame<RecoveryMarker>, RecordFrame<DesktopIconRecovery>,
                 RecordFrame<TaskbarRecoverySnapshot>, RecordFrame<TaskbarWindowRecoveryState>,
                 SequenceFrame<TaskbarWindowRecoveryState>>;

// Storing a value into its field either completes the field (no frame), or opens a container (a
// frame) that the following parse events fill, or fails with a description.
using StoreResult = std::expected<std::optional<Frame>, std::string>;

template <typename Record> StoreResult store_record(Record& target, const ParsedValue& value) {
    if (!opens_container(value)) {
        return std::unexpected(invalid_type(value, record_expectation<Record>()));
    }
    return RecordFrame<Record>{.record = &target, .array_form = value.kind == JsonKind::sequence};
}

template <typename T> std::optional<T> narrowed(const IntegerValue& value) {
    return std::visit(
        [](auto number) -> std::optional<T> {
            if constexpr (!std::is_same_v<decltype(number), std::monostate>) {
                if (std::in_range<T>(number)) {
                    return static_cast<T>(number);
                }
            }
            return std::nullopt;
        },
        value);
}

// bool is integral too: its own overload below, not a template, is the one chosen for it.
template <std::integral T> StoreResult store_value(T& target, const ParsedValue& value) {
    if (value.kind != JsonKind::integer) {
        return std::unexpected(invalid_type(value, integer_expectation<T>()));
    }
    const std::optional<T> number = narrowed<T>(value.integer);
    if (!number) {
        return std::unexpected("invalid value: " + described(value) + ", expected " +
                               integer_expectation<T>());
    }
    target = *number;
    return std::nullopt;
}

StoreResult store_value(bool& target, const ParsedValue& value) {
    if (value.kind != JsonKind::boolean) {
        return std::unexpected(invalid_type(value, "a boolean"));
    }
    target = value.boolean;
    return std::nullopt;
}

StoreResult store_value(std::string& target, const ParsedValue& value) {
    if (value.kind != JsonKind::string) {
        return std::unexpected(invalid_type(value, "a string"));
    }
    target.assign(value.text);
    return std::nullopt;
}

// null stands for an absent record.
template <typename Record>
StoreResult store_value(std::optional<Record>& target, const ParsedValue& value) {
    if (value.kind == JsonKind::null) {
        target.reset();
        return std::nullopt;
    }
    return store_record(target.emplace(), value);
}

template <typename Element>
StoreResult store_value(std::vector<Element>& target, const ParsedValue& value) {
    if (value.kind != JsonKind::sequence) {
        return std::unexpected(invalid_type(value, "a sequence"));
    }
    return SequenceFrame<Element>{&target};
}

// The value of the field that the key just read names, or in array form of the next field.
template <typename Record>
StoreResult store_next_value(RecordFrame<Record>& frame, const ParsedValue& value) {
    const std::size_t index = frame.field;
    if (frame.array_form) {
        if (index == field_count<Record>) {
            // more elements than the record has fields
            return std::unexpected(std::string(trailing_characters));
        }
        ++frame.field;
    }
    return std::visit([&](auto member) { return store_value(frame.record->*member, value); },
                      Declaration<Record>::fields[index].member);
}

template <typename Element>
StoreResult store_next_value(SequenceFrame<Element>& frame, const ParsedValue& value) {
    return store_record(frame.elements->emplace_back(), value);
}

// Whether the record defines the key: its value is then stored, otherwise skipped.
template <typename Record>
std::expected<bool, std::string> accept_key(RecordFrame<Record>& frame, std::string_view key) {
    const auto& fields = Declaration<Record>::fields;
    const auto found = std::ranges::find(fields, key, &Field<Record>::key);
    if (found == fields.end()) {
        return false;
    }
    const auto index = static_cast<std::size_t>(found - fields.begin());
    // The key itself is the occurrence, so a first null counts as one.
    if (frame.seen[index]) {
        return std::unexpected("duplicate field `" + std::string(key) + "`");
    }
    frame.seen.set(index);
    frame.field = index;
    return true;
}

// Keys only occur inside objects, and an object is always a record here.
template <typename Element>
std::expected<bool, std::string> accept_key(SequenceFrame<Element>&, std::string_view) {
    return false;
}

// What is wrong with the frame when its container closes: a missing field or a short array.
template <typename Record>
std::optional<std::string> problem_at_close(const RecordFrame<Record>& frame) {
    constexpr std::size_t count = field_count<Record>;
    if (frame.array_form) {
        if (frame.field < count) {
            return "invalid length " + std::to_string(frame.field) + ", expected " +
                   record_expectation<Record>() + " with " + std::to_string(count) +
                   (count == 1 ? " element" : " elements");
        }
        return std::nullopt;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Field<Record>& field = Declaration<Record>::fields[i];
        if (!frame.seen[i] && is_required(field)) {
            return "missing field `" + std::string(field.key) + "`";
        }
    }
    return std::nullopt;
}

template <typename Element>
std::optional<std::string> problem_at_close(const SequenceFrame<Element>&) {
    return std::nullopt;
}

// The handler that Boost's SAX parser calls: maps the parse events onto the records.

constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();

struct MarkerReader {
    static constexpr std::size_t max_object_size = unlimited;
    static constexpr std::size_t max_array_size = unlimited;
    static constexpr std::size_t max_key_size = unlimited;
    static constexpr std::size_t max_string_size = unlimited;

    RecoveryMarker marker;
    std::vector<Frame> frames;
    // Inside a value that belongs to an undefined key: how many of its containers are open.
    std::size_t skip_depth = 0;
    bool skip_next_value = false;
    // Boost hands over long or escaped tokens in parts, one token after the other.
    std::string token_parts;
    std::optional<std::string> failure;
    bool ran_out_of_memory = false;

    bool on_document_begin(ErrorCode&) { return true; }
    bool on_document_end(ErrorCode&) { return true; }

    bool on_object_begin(ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_value({.kind = JsonKind::map}, ec); });
    }
    bool on_object_end(std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return close_container(ec); });
    }
    bool on_array_begin(ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_value({.kind = JsonKind::sequence}, ec); });
    }
    bool on_array_end(std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return close_container(ec); });
    }

    bool on_key_part(json::string_view part, std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return collect(part); });
    }
    bool on_key(json::string_view rest, std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_key(rest, ec); });
    }
    bool on_string_part(json::string_view part, std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return collect(part); });
    }
    bool on_string(json::string_view rest, std::size_t, ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_string(rest, ec); });
    }

    bool on_number_part(json::string_view part, ErrorCode& ec) {
        return within_memory(ec, [&] { return collect(part); });
    }
    bool on_int64(std::int64_t number, json::string_view rest, ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_number(IntegerValue(number), rest, ec); });
    }
    bool on_uint64(std::uint64_t number, json::string_view rest, ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_number(IntegerValue(number), rest, ec); });
    }
    bool on_double(double, json::string_view rest, ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_number(IntegerValue(), rest, ec); });
    }

    bool on_bool(bool flag, ErrorCode& ec) {
        return within_memory(
            ec, [&] { return handle_value({.kind = JsonKind::boolean, .boolean = flag}, ec); });
    }
    bool on_null(ErrorCode& ec) {
        return within_memory(ec, [&] { return handle_value({.kind = JsonKind::null}, ec); });
    }

    // Comments are not enabled in the parse options, so these are never called.
    bool on_comment_part(json::string_view, ErrorCode&) { return true; }
    bool on_comment(json::string_view, ErrorCode&) { return true; }

    bool skipping() const { return skip_depth > 0 || skip_next_value; }

    bool collect(json::string_view part) {
        if (!skipping()) {
            token_parts.append(part.data(), part.size());
        }
        return true;
    }

    // The whole token: the parts collected before, then the rest.
    std::string_view whole(json::string_view rest) {
        if (token_parts.empty()) {
            return {rest.data(), rest.size()};
        }
        token_parts.append(rest.data(), rest.size());
        return token_parts;
    }

    bool handle_key(json::string_view rest, ErrorCode& ec) {
        if (skip_depth > 0) {
            return true;
        }
        const std::string_view key = whole(rest);
        auto defined =
            std::visit([key](auto& frame) { return accept_key(frame, key); }, frames.back());
        token_parts.clear();
        if (!defined) {
            return stop(std::move(defined.error()), ec);
        }
        skip_next_value = !*defined;
        return true;
    }

    bool handle_string(json::string_view rest, ErrorCode& ec) {
        const bool ok = handle_value({.kind = JsonKind::string, .text = whole(rest)}, ec);
        token_parts.clear();
        return ok;
    }

    bool handle_number(IntegerValue integer, json::string_view rest, ErrorCode& ec) {
        ParsedValue value{.kind = JsonKind::integer, .text = whole(rest)};
        // Boost hands over 1.0 and 1e2 as doubles, like integers beyond 64 bits: only the
        // text tells a fraction or an exponent from a large integer.
        if (value.text.find_first_of(".eE") == std::string_view::npos) {
            value.integer = integer;
        } else {
            value.kind = JsonKind::floating_point;
        }
        const bool ok = handle_value(value, ec);
        token_parts.clear();
        return ok;
    }

    bool handle_value(const ParsedValue& value, ErrorCode& ec) {
        if (skipping()) {
            skip_next_value = false;
            if (opens_container(value)) {
                ++skip_depth;
            }
            return true;
        }
        StoreResult stored =
            frames.empty()
                ? store_record(marker, value)
                : std::visit([&value](auto& frame) { return store_next_value(frame, value); },
                             frames.back());
        if (!stored) {
            return stop(std::move(stored.error()), ec);
        }
        if (stored->has_value()) {
            frames.push_back(std::move(**stored));
        }
        return true;
    }

    bool close_container(ErrorCode& ec) {
        if (skip_depth > 0) {
            --skip_depth;
            return true;
        }
        std::optional<std::string> problem =
            std::visit([](const auto& frame) { return problem_at_close(frame); }, frames.back());
        if (problem) {
            return stop(std::move(*problem), ec);
        }
        frames.pop_back();
        return true;
    }

    // The description stays here; the error code only makes the parser stop.
    bool stop(std::string description, ErrorCode& ec) {
        failure = std::move(description);
        ec = json::error::exception;
        return false;
    }

    // Running out of memory stops the parse like any other problem, so the description still
    // gets the position, and nothing is thrown through the parser.
    template <typename Step> bool within_memory(ErrorCode& ec, Step step) {
        try {
            return step();
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        ran_out_of_memory = true;
        ec = json::error::exception;
        return false;
    }
};

// The description followed by " at line L column C" for the byte at the offset. Lines count from
// 1, and only a line feed starts a new one. Columns count bytes from 1 and name the byte at which
// the reader stopped: the first byte it had not stored in, or one past the last byte when the
// input ran out.
std::expected<RecoveryMarker, std::string> failure_at(std::string description,
                                                      std::string_view bytes, std::size_t offset) {
    const std::string_view before = bytes.substr(0, offset);
    const auto line = 1 + std::ranges::count(before, '\n');
    const std::size_t last_break = before.rfind('\n');
    const std::size_t line_start = last_break == std::string_view::npos ? 0 : last_break + 1;
    description +=
        " at line " + std::to_string(line) + " column " + std::to_string(offset - line_start + 1);
    return std::unexpected(std::move(description));
}

// Boost reports a comma right before a closing bracket as a plain syntax error. Naming it tells
// the writer what to remove; it also covers an over-long array whose surplus is only a comma.
bool is_trailing_comma(std::string_view bytes, std::size_t offset) {
    if (offset >= bytes.size() || (bytes[offset] != ']' && bytes[offset] != '}')) {
        return false;
    }
    const std::size_t previous = bytes.substr(0, offset).find_last_not_of(json_whitespace);
    return previous != std::string_view::npos && bytes[previous] == ',';
}

std::expected<RecoveryMarker, std::string> read_marker(std::string_view bytes) {
    json::parse_options options;
    options.max_depth = max_nesting_depth;
    json::basic_parser<MarkerReader> parser(options);
    ErrorCode ec;
    // An empty view may carry a null pointer, which the parser must not be handed.
    const char* data = bytes.empty() ? "" : bytes.data();
    // One past the root value, or where the parser stopped at a problem.
    const std::size_t stopped_at = parser.write_some(false, data, bytes.size(), ec);
    MarkerReader& reader = parser.handler();
    if (reader.ran_out_of_memory) {
        reader = MarkerReader{}; // give the partial records back before composing anything
        return failure_at(std::string(out_of_memory), bytes, stopped_at);
    }
    if (reader.failure) {
        return failure_at(std::move(*reader.failure), bytes, stopped_at);
    }
    if (ec == json::error::syntax && is_trailing_comma(bytes, stopped_at)) {
        return failure_at("trailing comma", bytes, stopped_at);
    }
    if (ec) {
        return failure_at(ec.message(), bytes, stopped_at);
    }
    const std::size_t rest = bytes.find_first_not_of(json_whitespace, stopped_at);
    if (rest != std::string_view::npos) {
        return failure_at(std::string(trailing_characters), bytes, rest);
    }
    return std::move(reader.marker);
}

} // namespace

std::expected<RecoveryMarker, std::string> parse_recovery_marker(std::string_view bytes) {
    try {
        return read_marker(bytes);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // No position: composing one could need the memory that just ran out.
    return std::unexpected(std::string(out_of_memory));
}

} // namespace watchdog
