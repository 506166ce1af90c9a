#include "client/left_marker.h"

#include "client/errors.h"
#include "client/messages.h"
#include "log/recovery_log.h"
#include "session/run_hold.h"
#include "win/error_text.h"
#include "win/utf.h"

namespace watchdog::client {
namespace {

std::string name_of(std::wstring_view kind, const SessionKey& key) {
    return utf16_to_utf8(session_object_name(kind, key).value_or(L""));
}

// What a name that cannot be had says: another kind of object, or the system's reason.
std::unexpected<Error> unclear(std::string_view prefix, std::wstring_view marker_path,
                               const NameState& state, const std::string& name) {
    if (state.holder == NameHolder::another_object) {
        return fail(Code::failed, about(name_taken_prefix, marker_path, name));
    }
    return fail(Code::failed,
                about(prefix, marker_path, windows_error_text(state.failure) + " (" + name + ")"));
}

} // namespace

std::expected<std::optional<SessionMarker>, Error> read_left_marker(BoundedWorker& worker,
                                                                    std::wstring_view marker_path) {
    auto read = *read_session_marker(worker, marker_path, std::nullopt);
    switch (read.verdict) {
    case MarkerVerdict::absent:
        return std::nullopt;
    case MarkerVerdict::unknown:
        read.failure = std::string(read_failed_prefix) + read.failure;
        [[fallthrough]];
    case MarkerVerdict::unreadable:
        // The very line a watcher would have written for it.
        append_recovery_log(marker_path, watchdog_log_tag, read.failure);
        return fail(Code::failed, naming(read.failure, marker_path));
    default:
        return std::optional(std::move(read));
    }
}

bool leftover_run_alive(std::wstring_view marker_path) {
    BoundedWorker worker;
    const auto read = *read_session_marker(worker, marker_path, std::nullopt);
    if (read.verdict != MarkerVerdict::this_session) {
        return false;
    }
    const NameHolder holder = look_for_presence({read.identity, read.marker.sessionId}).holder;
    return holder == NameHolder::a_run || holder == NameHolder::a_run_of_other_rights;
}

std::expected<SessionLock, Error> take_over(std::wstring_view marker_path, const SessionKey& key,
                                            std::chrono::milliseconds wait_for_watcher) {
    auto lock = lock_session(key, wait_for_watcher);
    if (!lock) {
        const std::string lock_name = name_of(L"session", key);
        if (lock.error().holder == NameHolder::a_run) {
            return fail(Code::left_to_live_run, about(watcher_busy_prefix, marker_path, lock_name));
        }
        return unclear(lock_failed_prefix, marker_path, lock.error(), lock_name);
    }
    const NameState presence = look_for_presence(key);
    switch (presence.holder) {
    case NameHolder::nobody:
        return std::move(*lock);
    case NameHolder::a_run:
        return fail(Code::left_to_live_run, about(live_run_prefix, marker_path, {}));
    case NameHolder::a_run_of_other_rights:
        return fail(Code::left_to_live_run, about(live_run_with_rights_prefix, marker_path, {}));
    case NameHolder::another_object:
    case NameHolder::unknown:
        break;
    }
    return unclear(presence_unknown_prefix, marker_path, presence, name_of(L"run", key));
}

} // namespace watchdog::client
