#pragma once

// A run's objects as a test reaches them: by the key every process of the run makes of its
// marker.

#include "session/object_names.h"

#include <string>
#include <string_view>

namespace watchdog::testing {

SessionKey run_key(const std::wstring& marker_path, std::string_view session_id);

// The name of the run's object: "session" (its lock), "run" (its presence), "end" (its end
// request).
std::wstring run_object_name(std::wstring_view kind, const SessionKey& key);

} // namespace watchdog::testing
