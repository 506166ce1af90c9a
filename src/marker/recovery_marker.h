#pragma once

// The recovery marker's reader. No Windows header, so that it also builds and is fuzzed natively.

#include "marker/records.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// Reads a whole marker file. Either a complete record or a UTF-8 description of the first
// problem met, ending in " at line L column C"; never throws.
std::expected<RecoveryMarker, std::string> parse_recovery_marker(std::string_view bytes);

} // namespace watchdog
