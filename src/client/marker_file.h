#pragma once

#include <system_state_watchdog/client.hpp>

#include <string>
#include <string_view>

namespace watchdog::client {

// The marker path as every step of a protection uses it: its full form (GetFullPathNameW), so
// that a later change of the current folder does not move it. invalid_argument when the system
// cannot make one.
std::expected<std::wstring, Error> full_marker_path(std::wstring_view marker_path);

enum class MarkerWrite {
    first,   // a run's first marker: never moved over another one (marker_unsettled)
    rewrite, // the run's own marker again: replaced in one step
};

// Writes the marker's bytes into a temporary file beside it, flushed, then moves that into
// place; the session's hold is the caller's.
std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes,
                                          MarkerWrite write);

// Removes the marker only while it holds `session_id` (write and delete shut out meanwhile).
std::expected<Finished, Error> delete_session_marker(std::wstring_view marker_path,
                                                     std::string_view session_id);

} // namespace watchdog::client
