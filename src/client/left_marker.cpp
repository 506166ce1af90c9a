#include "client/left_marker.h"

#include "client/errors.h"
#include "client/messages.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "session/session_presence.h"
#include "win/error_text.h"

namespace watchdog::client {

std::expected<std::optional<LeftMarker>, std::string> read_left_marker(const std::wstring& path) {
    // Read the way the restore run reads it, so that both see the same marker or the same reason.
    auto bytes = read_marker_bytes(path);
    if (!bytes) {
        return std::unexpected(bytes.error());
    }
    if (!*bytes) {
        return std::nullopt;
    }
    LeftMarker left{std::move(**bytes), {}};
    if (const auto marker = parse_recovery_marker(left.bytes)) {
        left.session_id = marker->sessionId;
    }
    return left;
}

std::expected<SessionLock, Error> take_over(std::wstring_view marker_path,
                                            std::string_view session_id,
                                            std::chrono::milliseconds wait_for_watcher) {
    auto lock = lock_session(session_id, wait_for_watcher);
    if (!lock) {
        return fail(Code::failed,
                    about(lock_failed_prefix, marker_path, windows_error_text(lock.error())));
    }
    if (!lock->owned) {
        return fail(Code::left_to_live_run, about(watcher_busy_prefix, marker_path, {}));
    }
    if (session_presence_held(session_id)) {
        return fail(Code::left_to_live_run, about(live_run_prefix, marker_path, {}));
    }
    return std::move(*lock);
}

} // namespace watchdog::client
