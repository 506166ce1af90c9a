#include "marker/recovery_marker.h"

#include "marker/descriptions.h"
#include "marker/parsed_value.h"
#include "marker/parser_adapter.h"
#include "marker/positions.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace watchdog {
namespace {

std::expected<RecoveryMarker, std::string> failure_at(std::string description,
                                                      std::string_view bytes, std::size_t offset) {
    return std::unexpected(with_position(std::move(description), bytes, offset));
}

std::expected<RecoveryMarker, std::string> read_marker(std::string_view bytes) {
    RootValueRead read = read_root_value(bytes);
    if (!read.records) {
        return failure_at(std::move(read.records.error()), bytes, read.stopped_at);
    }
    const std::size_t rest = bytes.find_first_not_of(json_whitespace, read.stopped_at);
    if (rest != std::string_view::npos) {
        return failure_at(std::string(trailing_characters), bytes, rest);
    }
    return std::move(*read.records);
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
