#pragma once

#include <system_state_watchdog/client.hpp>

#include "marker_file/marker_file.h"
#include "session/object_names.h"

#include <string>
#include <string_view>

namespace watchdog::client {

// The marker path as every step of a protection uses it: its full form (GetFullPathNameW), so
// that a later change of the current folder does not move it. invalid_argument when the system
// cannot make one.
std::expected<std::wstring, Error> full_marker_path(std::wstring_view marker_path);

// The key of the run of `session_id` at the marker.
SessionKey key_of(std::wstring_view marker_path, std::string_view session_id);

// Writes the marker's bytes; the run's hold is the caller's. marker_unsettled when a first
// marker finds another one there.
std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes,
                                          MarkerWrite write);

// Removes the marker only while it holds `session_id` (write and delete shut out meanwhile).
std::expected<Finished, Error> delete_session_marker(std::wstring_view marker_path,
                                                     std::string_view session_id);

} // namespace watchdog::client
