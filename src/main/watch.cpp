#include "main/watch.h"

#include "log/recovery_log.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "session/item_guard.h"
#include "session/run_end.h"
#include "session/session_lock.h"
#include "session/session_presence.h"
#include "win/bounded_call.h"
#include "win/path.h"
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

bool exit_confirmed_after_open_failure(Win32Failure failure) {
    return failure.code == ERROR_INVALID_PARAMETER;
}

namespace {

WaitOutcome outcome_of_wait(DWORD waited) {
    return waited == WAIT_OBJECT_0 ? WaitOutcome::main_process_ended
                                   : WaitOutcome::exit_unconfirmed;
}

// Listens again after a request that found the run still going: set too early, or by somebody
// else. Not before a pause, so that a request set over and over costs nothing but a look at the
// marker a second; and with one more look after the reset, since the application's own request
// may have come meanwhile and been reset with it.
std::optional<WaitOutcome> listen_again(HANDLE process, HANDLE run_end,
                                        const std::function<bool()>& run_is_over) {
    const DWORD paused = WaitForSingleObject(process, request_pause_ms);
    if (paused != WAIT_TIMEOUT) {
        return outcome_of_wait(paused);
    }
    ResetEvent(run_end);
    if (run_is_over()) {
        return WaitOutcome::run_ended_cleanly;
    }
    return std::nullopt;
}

} // namespace

WaitOutcome wait_for_main_process(std::uint32_t process_id, HANDLE run_end,
                                  const std::function<bool()>& run_is_over) {
    const auto process = handle_or_failure(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (!process) {
        return exit_confirmed_after_open_failure(process.error()) ? WaitOutcome::main_process_ended
                                                                  : WaitOutcome::exit_unconfirmed;
    }
    if (run_end == nullptr) {
        return outcome_of_wait(WaitForSingleObject(process->get(), INFINITE));
    }
    const HANDLE both[] = {process->get(), run_end};
    while (true) {
        const DWORD woken = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return outcome_of_wait(woken);
        }
        if (run_is_over()) {
            return WaitOutcome::run_ended_cleanly;
        }
        if (const auto outcome = listen_again(process->get(), run_end, run_is_over)) {
            return *outcome;
        }
    }
}

bool wait_for_process_exit(std::uint32_t process_id) {
    return wait_for_main_process(process_id, nullptr, {}) == WaitOutcome::main_process_ended;
}

bool run_is_over(const std::expected<std::optional<std::string>, std::string>& marker,
                 std::string_view session_id) {
    if (!marker) {
        return false;
    }
    if (!*marker) {
        return true;
    }
    const auto parsed = parse_recovery_marker(**marker);
    return parsed && parsed->sessionId != session_id;
}

WatcherHolds hold_run(std::wstring_view marker_path, std::string_view session_id) {
    // Without the objects the watcher still restores; nothing may keep the desktop broken.
    WatcherHolds holds;
    const SessionKey key = session_key(marker_path, session_id);
    holds.presence = hold_session_presence(key).value_or(UniqueHandle());
    const auto bytes = read_marker_bytes(file_system_path(marker_path));
    const auto marker =
        bytes && *bytes ? parse_recovery_marker(**bytes) : std::unexpected(std::string());
    if (marker && marker->sessionId == session_id) {
        for (const GuardedItem item : guarded_items(*marker)) {
            if (auto guard = hold_item(item)) {
                holds.items.push_back(std::move(*guard));
            }
        }
    }
    holds.run_end = open_run_end(key).value_or(UniqueHandle());
    return holds;
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
        // application starting again leaves the marker to it, and nobody else protects its items.
        WatcherHolds holds = hold_run(marker_path, session_id);
        // The taskbar restore's calls to the shell run on a worker thread; it is readied now,
        // while there is time.
        prepare_bounded_worker();
        const WaitOutcome outcome = wait_for_main_process(*process_id, holds.run_end.get(), [&] {
            return run_is_over(read_marker_bytes(file_system_path(marker_path)), session_id);
        });
        return conclude_watch(outcome, marker_path, session_id, std::move(holds));
    });
}

void log_unexpected_failure(std::wstring_view marker_path, std::string_view what) noexcept {
    try {
        append_recovery_log(marker_path, watchdog_log_tag,
                            std::string(unexpected_failure_prefix) + std::string(what));
    } catch (...) {
    }
}

void stand_down(WatcherHolds holds, void (*announce)(HANDLE presence)) {
    // The items are free before the application hears that the watcher is done: it may protect
    // them again the moment it does.
    holds.items.clear();
    announce(holds.presence.get());
}

ExitCode conclude_watch(WaitOutcome outcome, std::wstring_view marker_path,
                        std::string_view session_id, WatcherHolds holds,
                        std::chrono::milliseconds lock_wait) {
    if (outcome == WaitOutcome::exit_unconfirmed) {
        append_recovery_log(marker_path, watchdog_log_tag, exit_unconfirmed_message);
        return ExitCode::ExitUnconfirmed;
    }
    if (outcome == WaitOutcome::run_ended_cleanly) {
        stand_down(std::move(holds));
        return ExitCode::Success;
    }
    // A main application that settles its previous run's marker at its next start may be at it
    // already: the session's lock keeps the two from restoring at once. Waiting on it is
    // bounded, since nothing may keep the desktop broken for good, and a lock that cannot be
    // had for the same reason does not stop the restore.
    const auto lock = lock_session(session_key(marker_path, session_id), lock_wait);
    // Declared after the lock, the holds end before it: a settle that waited for the lock then
    // finds the run over.
    const WatcherHolds held_until_restored = std::move(holds);
    const auto restored = restore_from_marker(marker_path, session_id);
    if (!restored) {
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return ExitCode::RestoreFailed;
    }
    return ExitCode::Success;
}

} // namespace watchdog
