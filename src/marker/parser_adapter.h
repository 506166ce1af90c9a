#pragma once

// The one place that knows the JSON parser: it reads the document's root value and hands what
// the parser reports to the field store (field_store.h).

#include "marker/records.h"

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

struct RootValueRead {
    // The records, or the description of the first problem met.
    std::expected<RecoveryMarker, std::string> records;
    // Where the parser stopped: one past the root value, or at the problem.
    std::size_t stopped_at = 0;
};

// Reads the root value at the start of the bytes; what follows it is left to the caller.
RootValueRead read_root_value(std::string_view bytes);

} // namespace watchdog
