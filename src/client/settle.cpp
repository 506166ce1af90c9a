#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/left_marker.h"
#include "client/library_pin.h"
#include "log/recovery_log.h"
#include "restore/restore_run.h"
#include "win/path.h"

namespace watchdog::client {

std::expected<Settled, Error> settle_leftover_marker(std::wstring_view marker_path,
                                                     std::chrono::milliseconds wait_for_watcher) {
    const std::wstring path = file_system_path(marker_path);
    const auto read = read_left_marker(path);
    if (read && !*read) {
        return Settled::no_marker;
    }
    // A marker that cannot even be read goes to the restore run all the same, which reports why
    // in its own words.
    const std::string session_id = read ? (*read)->session_id : std::string();
    const auto lock = take_over(marker_path, session_id, wait_for_watcher);
    if (!lock) {
        return std::unexpected(lock.error());
    }
    // A watcher that was waited for has restored, and deleted the marker, meanwhile.
    if (const auto now = read_left_marker(path); now && !*now) {
        return Settled::no_marker;
    }
    pin_client_library();
    const auto restored = restore_from_marker(marker_path, session_id);
    if (!restored) {
        // The very line a watcher would have written for this failure.
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return fail(Code::failed, naming(restored.error(), marker_path));
    }
    return Settled::restored;
}

} // namespace watchdog::client
