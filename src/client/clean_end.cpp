// The clean end of a run: the desktop put back in this process, the marker removed, the watcher
// told to stand down.

#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/kept_runs.h"
#include "client/marker_file.h"
#include "client/shell.h"
#include "restore/restore_run.h"

namespace watchdog::client {
namespace {

std::expected<void, Error> restore_recorded(const RecoveryMarker& recorded) {
    pin_client_library();
    BoundedWorker worker;
    const ItemOutcomes outcomes = restore_recorded_items(recorded, worker);
    if (!outcomes.failures.empty()) {
        return fail(Code::failed, join_failures(outcomes.failures));
    }
    return {};
}

} // namespace

std::expected<void, Error> restore_desktop(const Recorded& recorded) {
    if (!recorded) {
        return fail(Code::invalid_argument, std::string(nothing_recorded_message));
    }
    return restore_recorded(recorded->marker);
}

std::expected<void, Error> finish_cleanly(std::wstring_view marker_path,
                                          std::string_view session_id) {
    if (const auto checked = check_session_id(session_id); !checked) {
        return checked;
    }
    const auto finished = delete_session_marker(marker_path, session_id);
    // A marker that could not be removed keeps the run in force: its hold stays.
    if (!finished) {
        return std::unexpected(finished.error());
    }
    const SessionKey key = key_of(marker_path, session_id);
    end_run(key, take_kept_run(key));
    switch (*finished) {
    case MarkerDeletion::deleted:
        return {};
    case MarkerDeletion::kept:
        return fail(Code::other_session, about(other_session_prefix, marker_path, {}));
    case MarkerDeletion::absent:
        break;
    }
    return fail(Code::no_marker, about(no_marker_prefix, marker_path, {}));
}

std::expected<void, Error> end_protection(Protection protection) {
    if (!protection.hold_) {
        return fail(Code::invalid_argument, std::string(protection_ended_message));
    }
    // A desktop that did not come back keeps its marker: the watcher, which waits for this
    // process still, or the next start puts it back.
    if (const auto restored = restore_recorded(protection.hold_->recorded); !restored) {
        return restored;
    }
    // A marker that cannot be removed keeps the run in force through its watcher, which still
    // waits for this process; this protection is over either way.
    KeptRunOwner hold = std::move(protection.hold_);
    const auto removed = delete_session_marker(protection.marker_path_, protection.session_id_);
    if (!removed) {
        return std::unexpected(removed.error());
    }
    const SessionKey key = hold->key;
    end_run(key, std::move(hold));
    return {};
}

} // namespace watchdog::client
