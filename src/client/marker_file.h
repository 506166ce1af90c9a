#pragma once

// The client's side of the marker's file: its full path, its run's key and whether that run is
// alive, its writing and its removal, over the marker's own room (marker_file/marker_file.h); and
// this process's part in keeping the run in force.

#include <system_state_watchdog/client.hpp>

#include "marker/records.h"
#include "marker_file/marker_file.h"
#include "session/object_names.h"
#include "session/run_hold.h"

#include <chrono>
#include <expected>
#include <memory>
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

// This process's part in keeping a run in force: its objects (see session/run_hold.h) and whether
// this process started its watcher, whose answer the clean end waits for. A Protection owns its
// part; the separate calls keep theirs in the process's table, write_marker_file to finish_cleanly.
struct KeptRun {
    SessionKey key;
    RunHold objects;
    bool watcher_started = false;
    RecoveryMarker recorded; // a Protection's: what its clean end puts back
};

using KeptRunOwner = std::unique_ptr<KeptRun, KeptRunRelease>;

// How long a clean end waits for the watcher it started to let go of the run. A watcher that
// waits already answers within milliseconds; one that is still starting needs longer.
inline constexpr std::chrono::milliseconds watcher_answer_wait{5000};

// The run's items, as a session guards them.
std::vector<GuardedItem> items_of(Items items);

// The hold of a new protection: the items claimed (refused with left_to_live_run while another
// protection holds one of them), then the run's presence.
std::expected<KeptRunOwner, Error> hold_new_protection(const SessionKey& key, Items items);

// Keeps the run of a marker written by the separate calls in force, with the items it records
// held beside any other holder: true when this call started keeping it, false when it was kept
// already (a rewrite of the run's own marker).
std::expected<bool, Error> keep_run(const SessionKey& key, const RecoveryMarker& marker);

// The watcher for a kept run has been started by this process.
void note_watcher_started(const SessionKey& key);

// Ends a run whose marker is gone: asks its watcher to stand down, lets go of the items, waits (at
// most watcher_answer_wait) for the watcher this process started, then lets go of the presence. A
// watcher that has not answered by then keeps its request and the presence held for it until it
// does (for ten minutes at most). `run` may be null (nothing kept by this process).
void end_run(const SessionKey& key, KeptRunOwner run);

// Takes the run out of the table; null when it is not kept.
KeptRunOwner take_kept_run(const SessionKey& key);

} // namespace watchdog::client
