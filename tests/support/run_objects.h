#pragma once

// A run's objects as a test reaches them: by the key every process of the run makes of its
// marker.

#include <system_state_watchdog/client.hpp>

#include "session/object_names.h"
#include "win/unique_resource.h"

#include <optional>

#include <string>
#include <string_view>

namespace watchdog::testing {

SessionKey run_key(const std::wstring& marker_path, std::string_view session_id);

// The name of the run's object: "session" (its lock), "run" (its presence), "end" (its end
// request).
std::wstring run_object_name(std::wstring_view kind, const SessionKey& key);

// An event under `name` that this process may not open, as one an instance of other rights (an
// elevated one, say) made. Windows gives its creator no access through an empty access list;
// Wine gives an owner among the token's groups SYNCHRONIZE all the same, so where the owner may
// be set, Local Service owns it.
UniqueHandle event_nobody_may_open(const std::wstring& name);

// The code of a client call's outcome; none for success.
template <typename T>
std::optional<client::Code> code_of(const std::expected<T, client::Error>& outcome) {
    return outcome ? std::nullopt : std::optional(outcome.error().code);
}

} // namespace watchdog::testing
