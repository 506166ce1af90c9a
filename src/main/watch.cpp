#include "main/watch.h"

#include "log/recovery_log.h"
#include "restore/restore_run.h"
#include "session/session_lock.h"
#include "win/module_path.h"
#include "win/path.h"
#include "win/process_start.h"
#include "win/utf.h"

#include <windows.h>

#include <charconv>
#include <system_error>

namespace watchdog {
namespace {

WaitOutcome outcome_of_wait(DWORD waited) {
    return waited == WAIT_OBJECT_0 ? WaitOutcome::main_process_ended
                                   : WaitOutcome::exit_unconfirmed;
}

std::optional<WaitOutcome> outcome_of_look(RunLook look) {
    if (look == RunLook::going) {
        return std::nullopt;
    }
    return look == RunLook::over ? WaitOutcome::run_ended_cleanly : WaitOutcome::main_process_ended;
}

} // namespace

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    // An unsigned number takes neither a sign nor a space, and one past 32 bits is out of range.
    std::uint32_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (failure != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::expected<UniqueHandle, WaitOutcome> open_main_process(std::uint32_t process_id,
                                                           std::uint64_t watcher_started) {
    auto process = handle_or_failure(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process && process.error().code == ERROR_ACCESS_DENIED) {
        // A process that may be waited for but not asked when it started.
        process = handle_or_failure(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    }
    if (!process) {
        // Only "no such process" proves that the main process is gone.
        return std::unexpected(process.error().code == ERROR_INVALID_PARAMETER
                                   ? WaitOutcome::main_process_ended
                                   : WaitOutcome::exit_unconfirmed);
    }
    if (process_start_time(process->get()) > watcher_started) {
        return std::unexpected(WaitOutcome::main_process_ended);
    }
    return std::move(*process);
}

RunLook look_at_run(BoundedWorker& worker, std::wstring_view marker_path,
                    std::string_view session_id, HANDLE main_process, const LinkTrust& trust) {
    const auto read = read_session_marker(worker, marker_path, session_id, main_process, trust);
    if (!read) {
        return RunLook::main_process_ended;
    }
    const bool over =
        read->verdict == MarkerVerdict::absent || read->verdict == MarkerVerdict::other_session;
    return over ? RunLook::over : RunLook::going;
}

WaitOutcome wait_for_main_process(HANDLE main_process, HANDLE run_end,
                                  const std::function<RunLook()>& look) {
    if (run_end == nullptr) {
        return outcome_of_wait(WaitForSingleObject(main_process, INFINITE));
    }
    const HANDLE both[] = {main_process, run_end};
    while (true) {
        const DWORD woken = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return outcome_of_wait(woken);
        }
        if (const auto outcome = outcome_of_look(look())) {
            return *outcome;
        }
        // A request set over and over costs two looks at the marker a second. The look after
        // the reset catches the application's own request, had it come meanwhile and been reset.
        const DWORD paused = WaitForSingleObject(main_process, request_pause_ms);
        if (paused != WAIT_TIMEOUT) {
            return outcome_of_wait(paused);
        }
        ResetEvent(run_end);
        if (const auto outcome = outcome_of_look(look())) {
            return *outcome;
        }
    }
}

RunHold hold_watched_run(const SessionKey& key, const std::optional<SessionMarker>& first) {
    const bool ours = first && first->verdict == MarkerVerdict::this_session;
    RunHold hold = hold_run(key, ours ? recorded_items(first->marker) : std::vector<GuardedItem>{},
                            ItemClaim::beside_others)
                       .value_or(RunHold{});
    hold.end_request = open_run_end(key).value_or(UniqueHandle());
    return hold;
}

ExitCode run_watch(ModeArguments arguments) {
    if (arguments.size() != mode_argument_count) {
        return ExitCode::UsageError;
    }
    return run_watch_catching(arguments[2], [&] {
        const auto process_id = parse_process_id(utf16_to_utf8(arguments[0]));
        if (!process_id) {
            return ExitCode::UsageError;
        }
        const std::string session_id = utf16_to_utf8(arguments[1]);
        // The path is made full before the watcher leaves its starting folder: waiting for
        // hours, it must not keep its caller's folder from being renamed or removed.
        const std::wstring marker_path = full_path(arguments[2]).value_or(arguments[2]);
        if (const auto system = system_folder()) {
            SetCurrentDirectoryW(system->c_str());
        }
        BoundedWorker worker;
        auto main_process = open_main_process(*process_id, process_start_time(GetCurrentProcess()));
        if (!main_process && main_process.error() == WaitOutcome::exit_unconfirmed) {
            return conclude_watch(WaitOutcome::exit_unconfirmed, marker_path, {}, {}, worker);
        }
        // Marker reads and the taskbar's shell calls run on a worker, readied while there is time.
        worker = start_bounded_worker();
        const HANDLE process = main_process ? main_process->get() : nullptr;
        const auto first = read_session_marker(worker, marker_path, session_id, process);
        const SessionKey key{first ? first->identity : comparable_path(marker_path), session_id};
        if (!main_process) {
            return conclude_watch(WaitOutcome::main_process_ended, marker_path, key, {}, worker);
        }
        RunHold hold = hold_watched_run(key, first);
        const WaitOutcome outcome = wait_for_main_process(process, hold.end_request.get(), [&] {
            return look_at_run(worker, marker_path, session_id, process);
        });
        return conclude_watch(outcome, marker_path, key, std::move(hold), worker);
    });
}

void log_unexpected_failure(std::wstring_view marker_path, std::string_view what) noexcept {
    try {
        append_recovery_log(marker_path, watchdog_log_tag,
                            std::string(unexpected_failure_prefix) + std::string(what));
    } catch (...) {
    }
}

void stand_down(RunHold hold, void (*announce)(HANDLE presence)) {
    // The items go before the application hears the watcher is done: it may protect them at once.
    hold.items.clear();
    announce(hold.presence.get());
}

ExitCode conclude_watch(WaitOutcome outcome, std::wstring_view marker_path, const SessionKey& key,
                        RunHold hold, BoundedWorker& worker, std::chrono::milliseconds lock_wait) {
    if (outcome == WaitOutcome::exit_unconfirmed) {
        append_recovery_log(marker_path, watchdog_log_tag, exit_unconfirmed_message);
        return ExitCode::ExitUnconfirmed;
    }
    if (outcome == WaitOutcome::run_ended_cleanly) {
        stand_down(std::move(hold));
        return ExitCode::Success;
    }
    // A main application settling its previous run's marker at its next start may be at it
    // already: the session's lock keeps the two from restoring at once. The wait for it is
    // bounded, and a lock not had does not stop the restore: nothing may keep the desktop broken.
    const auto lock = lock_session(key, lock_wait);
    // Declared after the lock, the hold ends before it: a settle waiting there finds the run over.
    const RunHold held_until_restored = std::move(hold);
    const auto restored = restore_from_marker(marker_path, key.session_id, worker);
    if (!restored) {
        append_recovery_log(marker_path, watchdog_log_tag, restored.error());
        return ExitCode::RestoreFailed;
    }
    return ExitCode::Success;
}

} // namespace watchdog
