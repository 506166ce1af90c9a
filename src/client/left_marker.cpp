#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/marker_file.h"
#include "client/shell.h"
#include "log/recovery_log.h"
#include "marker_file/marker_file.h"
#include "restore/restore_run.h"
#include "session/run_hold.h"
#include "session/session_lock.h"
#include "win/error_text.h"
#include "win/utf.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

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

struct LeftRun {
    SessionMarker left;
    SessionLock lock;
};

// The marker left at the path, read once, with its session's lock (waited for at most
// `wait_for_watcher`), taken only while nothing of its run is alive: no_marker when none is there,
// failed when it cannot be read now, or an Error saying whose run it is.
std::expected<LeftRun, Error> take_over_left(BoundedWorker& worker, std::wstring_view marker_path,
                                             std::chrono::milliseconds wait_for_watcher) {
    auto read = *read_session_marker(worker, marker_path, std::nullopt);
    if (read.verdict == MarkerVerdict::absent) {
        return fail(Code::no_marker, about(no_marker_prefix, marker_path, {}));
    }
    if (read.verdict == MarkerVerdict::unknown || read.verdict == MarkerVerdict::unreadable) {
        // The very line a watcher would have written for it.
        append_recovery_log(marker_path, watchdog_log_tag, read.failure);
        return fail(Code::failed, naming(read.failure, marker_path));
    }
    const SessionKey key{read.identity, read.marker.sessionId};
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
        return LeftRun{std::move(read), std::move(*lock)};
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

} // namespace

bool leftover_run_alive(std::wstring_view marker_path) {
    BoundedWorker worker;
    const auto read = *read_session_marker(worker, marker_path, std::nullopt);
    if (read.verdict != MarkerVerdict::this_session) {
        return false;
    }
    const NameHolder holder = look_for_presence({read.identity, read.marker.sessionId}).holder;
    return holder == NameHolder::a_run || holder == NameHolder::a_run_of_other_rights;
}

std::expected<void, Error>
settle_leftover_marker(std::wstring_view marker_path, std::chrono::milliseconds wait_for_watcher,
                       std::chrono::milliseconds wait_for_shell_windows) {
    BoundedWorker worker;
    // A marker that is no marker of this version goes to the restore run all the same, which
    // reports why in its own words.
    const auto run = take_over_left(worker, marker_path, wait_for_watcher);
    if (!run) {
        return std::unexpected(run.error());
    }
    pin_client_library();
    const RecoveryMarker& left = run->left.marker;
    if (const auto shown = wait_for_shell(left.taskbar.has_value(), left.desktopIcons.has_value(),
                                          wait_for_shell_windows);
        !shown) {
        // A shell that has not come up is logged once for a run of the application: a start at
        // logon that tries again and again must not fill the log.
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true)) {
            append_recovery_log(marker_path, client_log_tag, shown.error());
        }
        return fail(Code::failed, naming(shown.error(), marker_path));
    }
    const auto restored = restore_from_marker(marker_path, left.sessionId, worker);
    if (!restored) {
        // The very line a watcher would have written for this failure.
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return fail(Code::failed, naming(restored.error(), marker_path));
    }
    // A watcher that was waited for has restored, and deleted the marker, meanwhile; another
    // session's marker in its place is a new run's, left alone.
    if (*restored != RestoreRun::restored) {
        return fail(Code::no_marker, about(no_marker_prefix, marker_path, {}));
    }
    return {};
}

std::expected<void, Error> discard_leftover_marker(std::wstring_view marker_path) {
    BoundedWorker worker;
    const auto run = take_over_left(worker, marker_path, std::chrono::milliseconds(0));
    if (!run) {
        return std::unexpected(run.error());
    }
    const SessionMarker& left = run->left;
    const auto deletion = delete_marker_file(
        worker, marker_path, [bytes = left.bytes](std::string_view now) { return now == bytes; });
    if (!deletion) {
        return fail(Code::failed, about(delete_failed_prefix, marker_path, deletion.error()));
    }
    // Gone, or another run's marker in its place.
    if (*deletion != MarkerDeletion::deleted) {
        return fail(Code::no_marker, about(no_marker_prefix, marker_path, {}));
    }
    const std::string& session_id = left.marker.sessionId;
    append_recovery_log(marker_path, client_log_tag,
                        std::string(discarded_message) +
                            (session_id.empty() ? "" : ": " + session_id));
    return {};
}

} // namespace watchdog::client
