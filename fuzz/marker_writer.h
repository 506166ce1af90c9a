#pragma once

// Writes markers back out as JSON, for the fuzzer's round trip. Test code: the watchdog itself
// never writes a marker.

#include "marker/recovery_marker.h"

#include <string>

namespace watchdog {

// Object form, keys in declared order, absent records left out.
std::string write_object_form(const RecoveryMarker& marker);

// Array form, every field in declared order, absent records as null.
std::string write_array_form(const RecoveryMarker& marker);

} // namespace watchdog
