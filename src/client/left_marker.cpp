#include "client/left_marker.h"

#include "client/errors.h"
#include "client/messages.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "session/session_presence.h"
#include "win/error_text.h"
#include "win/path.h"
#include "win/utf.h"

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

bool leftover_run_alive(const std::wstring& marker_path) {
    const auto read = read_left_marker(file_system_path(marker_path));
    if (!read || !*read || (*read)->session_id.empty()) {
        return false;
    }
    const PresenceSeen seen = look_for_presence(session_key(marker_path, (*read)->session_id)).seen;
    return seen == PresenceSeen::held || seen == PresenceSeen::held_with_rights;
}

std::expected<SessionLock, Error> take_over(std::wstring_view marker_path,
                                            std::string_view session_id,
                                            std::chrono::milliseconds wait_for_watcher) {
    const SessionKey key = session_key(marker_path, session_id);
    const std::string lock_name = utf16_to_utf8(session_lock_name(key));
    auto lock = lock_session(key, wait_for_watcher);
    if (!lock) {
        return fail(Code::failed, about(lock_failed_prefix, marker_path,
                                        windows_error_text(lock.error()) + " (" + lock_name + ")"));
    }
    if (!lock->owned) {
        return fail(Code::left_to_live_run, about(watcher_busy_prefix, marker_path, lock_name));
    }
    const Presence presence = look_for_presence(key);
    const std::string presence_name = utf16_to_utf8(session_presence_name(key));
    switch (presence.seen) {
    case PresenceSeen::absent:
        return std::move(*lock);
    case PresenceSeen::held:
        return fail(Code::left_to_live_run, about(live_run_prefix, marker_path, {}));
    case PresenceSeen::held_with_rights:
        return fail(Code::left_to_live_run, about(live_run_with_rights_prefix, marker_path, {}));
    case PresenceSeen::other_object:
        return fail(Code::failed, about(name_taken_prefix, marker_path, presence_name));
    case PresenceSeen::unknown:
        break;
    }
    return fail(Code::failed,
                about(presence_unknown_prefix, marker_path,
                      windows_error_text(presence.failure) + " (" + presence_name + ")"));
}

} // namespace watchdog::client
