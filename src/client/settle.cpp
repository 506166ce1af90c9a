#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/left_marker.h"
#include "client/library_pin.h"
#include "client/shell_wait.h"
#include "log/recovery_log.h"
#include "restore/restore_run.h"

#include <atomic>

namespace watchdog::client {

namespace {

// A shell that has not come up is logged once for a run of the application: a start at logon
// that tries again and again must not fill the log.
void log_missing_shell_once(std::wstring_view marker_path, std::string_view message) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        append_recovery_log(marker_path, client_log_tag, message);
    }
}

} // namespace

std::expected<Settled, Error>
settle_leftover_marker(std::wstring_view marker_path, std::chrono::milliseconds wait_for_watcher,
                       std::chrono::milliseconds wait_for_shell_windows) {
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
    const RecoveryMarker& left = (*read)->marker;
    if (const auto shown = wait_for_shell(left.taskbar.has_value(), left.desktopIcons.has_value(),
                                          wait_for_shell_windows);
        !shown) {
        log_missing_shell_once(marker_path, shown.error());
        return fail(Code::failed, naming(shown.error(), marker_path));
    }
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
