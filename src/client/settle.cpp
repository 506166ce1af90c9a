#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/left_marker.h"
#include "client/library_pin.h"
#include "log/recovery_log.h"
#include "restore/restore_run.h"

namespace watchdog::client {

std::expected<Settled, Error> settle_leftover_marker(std::wstring_view marker_path,
                                                     std::chrono::milliseconds wait_for_watcher) {
    BoundedWorker worker;
    const auto read = read_left_marker(worker, marker_path);
    if (!read) {
        return std::unexpected(read.error());
    }
    if (!*read) {
        return Settled::no_marker;
    }
    // A marker that is no marker of this version goes to the restore run all the same, which
    // reports why in its own words.
    const SessionKey key{(*read)->identity, (*read)->marker.sessionId};
    const auto lock = take_over(marker_path, key, wait_for_watcher);
    if (!lock) {
        return std::unexpected(lock.error());
    }
    pin_client_library();
    const auto restored = restore_from_marker(marker_path, key.session_id, worker);
    if (!restored) {
        // The very line a watcher would have written for this failure.
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return fail(Code::failed, naming(restored.error(), marker_path));
    }
    // A watcher that was waited for has restored, and deleted the marker, meanwhile; another
    // session's marker in its place is a new run's, left alone.
    return *restored == RestoreRun::restored ? Settled::restored : Settled::no_marker;
}

} // namespace watchdog::client
