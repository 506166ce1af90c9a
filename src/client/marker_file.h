#pragma once

// The client's side of the marker's file, over marker_file/marker_file.h.

#include <system_state_watchdog/client.hpp>

#include "marker/records.h"
#include "marker_file/marker_file.h"
#include "session/object_names.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog::client {

struct RecordedState {
    RecoveryMarker marker;
};

// The marker path as every step of a protection uses it: its full form (GetFullPathNameW), which
// a later change of the current folder does not move; invalid_argument when none can be made.
std::expected<std::wstring, Error> full_marker_path(std::wstring_view marker_path);

// The key of the run of `session_id` at the marker.
SessionKey key_of(std::wstring_view marker_path, std::string_view session_id);

// Whether a marker is at the path whose run something still holds alive (a watcher restoring it,
// say), whatever rights it runs with.
bool leftover_run_alive(std::wstring_view marker_path);

// Writes the marker's bytes; the run's hold is the caller's. marker_unsettled when a first
// marker finds another one there.
std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes,
                                          MarkerWrite write);

// Writes `bytes` as the marker, as write_marker writes a recorded one, and keeps the run of the
// marker they hold in force (none for bytes that are no marker of this library's making).
std::expected<void, Error> write_marker_file(std::wstring_view marker_path, std::string_view bytes);

// write_marker_file of the marker in object form.
std::expected<void, Error> write_marker(std::wstring_view marker_path,
                                        const RecoveryMarker& marker);

// Removes the marker only while it holds `session_id` (write and delete shut out meanwhile).
std::expected<MarkerDeletion, Error> delete_session_marker(std::wstring_view marker_path,
                                                           std::string_view session_id);

} // namespace watchdog::client
