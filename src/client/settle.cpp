#include <system_state_watchdog/client.hpp>

#include "client/left_marker.h"
#include "client/messages.h"
#include "client/session.h"
#include "log/recovery_log.h"
#include "restore/restore_run.h"
#include "restore/session_lock.h"
#include "win/path.h"

namespace watchdog::client {

SettleOutcome settle_leftover_marker(std::wstring_view marker_path,
                                     std::chrono::milliseconds wait_for_watcher) {
    const auto read = read_left_marker(file_system_path(marker_path));
    if (read && !*read) {
        return {Settled::no_marker, {}};
    }
    // A marker that cannot even be read goes to the restore run all the same, which reports why
    // in its own words.
    const std::string session_id = read ? (*read)->session_id : std::string();
    if (session_run_is_alive(session_id)) {
        return {Settled::left_to_live_run, std::string(live_run_message)};
    }
    const SessionLock lock = lock_session(session_id, wait_for_watcher);
    if (!lock.owned) {
        return {Settled::left_to_live_run, std::string(watcher_busy_message)};
    }
    const auto restored = restore_from_marker(marker_path, session_id);
    if (!restored) {
        // The very line a watcher would have written for this failure.
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return {Settled::failed, restored.error()};
    }
    return {Settled::restored, {}};
}

} // namespace watchdog::client
