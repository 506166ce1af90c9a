#pragma once

// The reader of the recovery marker: the JSON file in which the main application records the
// state it changed. No Windows header here, so the reader also builds and is fuzzed natively
// on Linux.

#include "marker/records.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// Reads a whole marker file. Either a complete record or a UTF-8 description of the first
// problem met, ending in " at line L column C"; never throws.
std::expected<RecoveryMarker, std::string> parse_recovery_marker(std::string_view bytes);

} // namespace watchdog
