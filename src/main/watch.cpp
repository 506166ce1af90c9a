#include "main/watch.h"

#include "log/recovery_log.h"
#include "restore/restore_run.h"
#include "session/session_lock.h"
#include "session/session_presence.h"
#include "win/bounded_call.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

namespace watchdog {

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

bool exit_confirmed_after_open_failure(std::uint32_t last_error) {
    return last_error == ERROR_INVALID_PARAMETER;
}

bool wait_for_process_exit(std::uint32_t process_id) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (!process.valid()) {
        return exit_confirmed_after_open_failure(GetLastError());
    }
    return WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0;
}

ExitCode run_watch(ModeArguments arguments) {
    if (arguments.size() != mode_argument_count) {
        return ExitCode::UsageError;
    }
    const std::wstring& marker_path = arguments[2];
    return run_watch_guarded(marker_path, [&] {
        const auto process_id = parse_process_id(utf16_to_utf8(arguments[0]));
        if (!process_id) {
            return ExitCode::UsageError;
        }
        const std::string session_id = utf16_to_utf8(arguments[1]);
        // From now until it has restored, the run is alive through this watcher too: a main
        // application starting again leaves the marker to it. Without the object the watcher
        // still restores; nothing may keep the desktop broken.
        UniqueHandle presence = hold_session_presence(session_id).value_or(UniqueHandle());
        // The taskbar restore's calls to the shell run on a worker thread; it is readied now,
        // while there is time.
        prepare_bounded_worker();
        return conclude_watch(wait_for_process_exit(*process_id), marker_path, session_id,
                              std::move(presence));
    });
}

void log_unexpected_failure(std::wstring_view marker_path, std::string_view what) noexcept {
    try {
        append_recovery_log(marker_path, watchdog_log_tag,
                            std::string(unexpected_failure_prefix) + std::string(what));
    } catch (...) {
    }
}

ExitCode conclude_watch(bool exit_confirmed, std::wstring_view marker_path,
                        std::string_view session_id, UniqueHandle presence,
                        std::chrono::milliseconds lock_wait) {
    if (!exit_confirmed) {
        append_recovery_log(marker_path, watchdog_log_tag, exit_unconfirmed_message);
        return ExitCode::ExitUnconfirmed;
    }
    // A main application that settles its previous run's marker at its next start may be at it
    // already: the session's lock keeps the two from restoring at once. Waiting on it is
    // bounded, since nothing may keep the desktop broken for good, and a lock that cannot be
    // had for the same reason does not stop the restore.
    const auto lock = lock_session(session_id, lock_wait);
    // Declared after the lock, the presence ends before it: a settle that waited for the lock
    // then finds the run over.
    const UniqueHandle present_until_restored = std::move(presence);
    const auto restored = restore_from_marker(marker_path, session_id);
    if (!restored) {
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return ExitCode::RestoreFailed;
    }
    return ExitCode::Success;
}

} // namespace watchdog
