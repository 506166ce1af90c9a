#pragma once

#include "marker/records.h"

#include <string>

namespace watchdog {

enum class MarkerForm {
    object, // {"version":1,"sessionId":...}, keys in declared order, absent items left out
    array,  // [1,"...",null,null]: every field by position, absent items as null
};

// The marker as UTF-8 JSON, made from the same field declaration that the reader reads it by.
std::string serialize_marker(const RecoveryMarker& marker, MarkerForm form);

} // namespace watchdog
