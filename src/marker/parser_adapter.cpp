#include "marker/parser_adapter.h"

#include "marker/descriptions.h"
#include "marker/field_store.h"
#include "marker/parsed_value.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/system/error_code.hpp>

#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace watchdog {
namespace {

namespace json = boost::json;
// Boost.JSON's own name for it, json::error_code, is gone from Boost 1.87 on.
using ErrorCode = boost::system::error_code;

// Deep enough for anything a newer writer might put beside the known keys. Boost keeps its own
// stack instead of recursing, so the limit bounds memory, not the call stack.
constexpr std::size_t max_nesting_depth = 128;

constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();

// The handler that Boost's SAX parser calls: maps the parse events onto the records.
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
    // Boost hands over long or escaped tokens in parts.
    std::string key_parts;
    std::string string_parts;
    std::string number_parts;
    std::optional<std::string> failure;
    bool out_of_memory = false;

    bool on_document_begin(ErrorCode&) { return true; }
    bool on_document_end(ErrorCode&) { return true; }

    bool on_object_begin(ErrorCode& ec) {
        return guarded(ec, [&] { return handle_value(value_of_kind(JsonKind::map), ec); });
    }
    bool on_object_end(std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return close_container(ec); });
    }
    bool on_array_begin(ErrorCode& ec) {
        return guarded(ec, [&] { return handle_value(value_of_kind(JsonKind::sequence), ec); });
    }
    bool on_array_end(std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return close_container(ec); });
    }

    bool on_key_part(json::string_view part, std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return collect(key_parts, part); });
    }
    bool on_key(json::string_view rest, std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return handle_key(rest, ec); });
    }
    bool on_string_part(json::string_view part, std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return collect(string_parts, part); });
    }
    bool on_string(json::string_view rest, std::size_t, ErrorCode& ec) {
        return guarded(ec, [&] { return handle_string(rest, ec); });
    }

    bool on_number_part(json::string_view part, ErrorCode& ec) {
        return guarded(ec, [&] { return collect(number_parts, part); });
    }
    bool on_int64(std::int64_t number, json::string_view rest, ErrorCode& ec) {
        return guarded(ec, [&] { return handle_number(IntegerValue(number), rest, ec); });
    }
    bool on_uint64(std::uint64_t number, json::string_view rest, ErrorCode& ec) {
        return guarded(ec, [&] { return handle_number(IntegerValue(number), rest, ec); });
    }
    // Also called for integers beyond 64 bits; the text tells them from fractions.
    bool on_double(double, json::string_view rest, ErrorCode& ec) {
        return guarded(ec, [&] { return handle_number(IntegerValue(), rest, ec); });
    }

    bool on_bool(bool flag, ErrorCode& ec) {
        ParsedValue value = value_of_kind(JsonKind::boolean);
        value.boolean = flag;
        return guarded(ec, [&] { return handle_value(value, ec); });
    }
    bool on_null(ErrorCode& ec) {
        return guarded(ec, [&] { return handle_value(value_of_kind(JsonKind::null), ec); });
    }

    // Comments are not enabled in the parse options, so these are never called.
    bool on_comment_part(json::string_view, ErrorCode&) { return true; }
    bool on_comment(json::string_view, ErrorCode&) { return true; }

    bool skipping() const { return skip_depth > 0 || skip_next_value; }

    bool collect(std::string& parts, json::string_view part) {
        if (!skipping()) {
            parts.append(part.data(), part.size());
        }
        return true;
    }

    // The whole token: the parts collected before, then the rest.
    static std::string_view whole(std::string& parts, json::string_view rest) {
        if (parts.empty()) {
            return {rest.data(), rest.size()};
        }
        parts.append(rest.data(), rest.size());
        return parts;
    }

    bool handle_key(json::string_view rest, ErrorCode& ec) {
        if (skip_depth > 0) {
            return true;
        }
        auto defined = accept_key(frames.back(), whole(key_parts, rest));
        key_parts.clear();
        if (!defined) {
            return stop(std::move(defined.error()), ec);
        }
        skip_next_value = !*defined;
        return true;
    }

    bool handle_string(json::string_view rest, ErrorCode& ec) {
        ParsedValue value = value_of_kind(JsonKind::string);
        value.text = whole(string_parts, rest);
        const bool ok = handle_value(value, ec);
        string_parts.clear();
        return ok;
    }

    bool handle_number(IntegerValue integer, json::string_view rest, ErrorCode& ec) {
        ParsedValue value = value_of_kind(JsonKind::integer);
        value.text = whole(number_parts, rest);
        // Boost hands over 1.0 and 1e2 as doubles, like integers beyond 64 bits: only the
        // text tells a fraction or an exponent from a large integer.
        if (value.text.find_first_of(".eE") == std::string_view::npos) {
            value.integer = integer;
        } else {
            value.kind = JsonKind::floating_point;
        }
        const bool ok = handle_value(value, ec);
        number_parts.clear();
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
            frames.empty() ? store_root(marker, value) : store_in_frame(frames.back(), value);
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
        std::optional<std::string> problem = problem_at_close(frames.back());
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
    template <typename Step> bool guarded(ErrorCode& ec, Step step) {
        try {
            return step();
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        out_of_memory = true;
        ec = json::error::exception;
        return false;
    }
};

// Boost reports a comma right before a closing bracket as a plain syntax error. Naming it tells
// the writer what to remove; it also covers an over-long array whose surplus is only a comma.
bool is_trailing_comma(std::string_view bytes, std::size_t offset) {
    if (offset >= bytes.size() || (bytes[offset] != ']' && bytes[offset] != '}')) {
        return false;
    }
    const std::size_t previous = bytes.substr(0, offset).find_last_not_of(json_whitespace);
    return previous != std::string_view::npos && bytes[previous] == ',';
}

std::string syntax_description(const ErrorCode& ec, std::string_view bytes, std::size_t offset) {
    if (ec == json::error::syntax && is_trailing_comma(bytes, offset)) {
        return std::string(trailing_comma);
    }
    return ec.message();
}

} // namespace

RootValueRead read_root_value(std::string_view bytes) {
    json::parse_options options;
    options.max_depth = max_nesting_depth;
    json::basic_parser<MarkerReader> parser(options);
    ErrorCode ec;
    // An empty view may carry a null pointer, which the parser must not be handed.
    const char* data = bytes.empty() ? "" : bytes.data();
    const std::size_t stopped_at = parser.write_some(false, data, bytes.size(), ec);
    MarkerReader& reader = parser.handler();
    if (reader.out_of_memory) {
        reader = MarkerReader{}; // give the partial records back before composing anything
        return {std::unexpected(std::string(out_of_memory)), stopped_at};
    }
    if (reader.failure) {
        return {std::unexpected(std::move(*reader.failure)), stopped_at};
    }
    if (ec) {
        return {std::unexpected(syntax_description(ec, bytes, stopped_at)), stopped_at};
    }
    return {std::move(reader.marker), stopped_at};
}

} // namespace watchdog
