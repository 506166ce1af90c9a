#pragma once

// Writes marker records as JSON by walking their declaration, so that the keys, their order
// and the value types come from the same table the reader uses. No Windows header: the native
// fuzzing tree builds this as it is.

#include "marker/records.h"

#include <string>

namespace watchdog {

// Object form, keys in declared order, absent records left out.
std::string write_object_form(const RecoveryMarker& marker);

// Array form, every field in declared order, absent records as null.
std::string write_array_form(const RecoveryMarker& marker);

} // namespace watchdog
