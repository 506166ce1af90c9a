#pragma once

#include "marker_file/marker_file.h"
#include "protocol/launcher_protocol.h"
#include "session/run_hold.h"
#include "win/bounded_call.h"
#include "win/unique_resource.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <expected>
#include <functional>
#include <optional>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view exit_unconfirmed_message =
    "无法确认主进程已经退出，已保留恢复标记供下次启动处理";
inline constexpr std::string_view unexpected_failure_prefix = "恢复过程意外中止: ";
// How long the watcher lets another process finish restoring the same session first.
inline constexpr std::chrono::milliseconds session_lock_wait{15000};

// Waits for the main process to end, then runs one restore against the marker; or stands down
// when the run has ended cleanly.
ExitCode run_watch(ModeArguments arguments);

enum class WaitOutcome {
    main_process_ended,
    exit_unconfirmed,
    run_ended_cleanly, // the application ended its run and no marker of the session is left
};

// The main process, opened before anything else: the longer the watcher waits first, the longer
// the id may name another process once the main one has gone. Ended when it is gone or started
// after the watcher (`watcher_started`, in FILETIME ticks); unconfirmed when it may not be opened.
std::expected<UniqueHandle, WaitOutcome> open_main_process(std::uint32_t process_id,
                                                           std::uint64_t watcher_started);

// The watcher's hold of its run: its presence (a starting application leaves the marker to it),
// its end request and, beside the application's, the guards of the items that `first` (read at
// the start) records when it is a version 1 marker of its session: nobody else protects them
// before they are back. Without them it still restores: nothing may keep the desktop broken.
RunHold hold_watched_run(const SessionKey& key, const std::optional<SessionMarker>& first);

enum class RunLook { going, over, main_process_ended };

// One look at the marker when the end request came: over only when no marker of the session is
// left, none at all or another session's; a marker that cannot be read may still be the
// session's. The read is bounded, and gives way the moment the main process ends.
RunLook look_at_run(BoundedWorker& worker, std::wstring_view marker_path,
                    std::string_view session_id, HANDLE main_process,
                    const LinkTrust& trust = this_process_trust());

inline constexpr std::uint32_t request_pause_ms = 1000;

// Waits without time-out until the main process has ended. With an end request, it also wakes
// when that is set, and looks (`look`): only "over" ends the wait early. "Going" (a request set
// too early, or by somebody else) is forgotten after request_pause_ms, and the wait listens again.
WaitOutcome wait_for_main_process(HANDLE main_process, HANDLE run_end,
                                  const std::function<RunLook()>& look);

// A run that ended cleanly: lets go of its items, then answers the application on the presence
// (`announce`, which tests may watch), then of everything else.
void stand_down(RunHold hold, void (*announce)(HANDLE presence) = announce_stood_down);

// Everything after the wait: an unconfirmed end leaves the desktop and marker alone and is logged
// once; a run that ended cleanly lets go of everything, says so, and touches nothing; otherwise
// one restore run, whose failure is logged. The hold ends with the restore, before the lock.
ExitCode conclude_watch(WaitOutcome outcome, std::wstring_view marker_path, const SessionKey& key,
                        RunHold hold, BoundedWorker& worker,
                        std::chrono::milliseconds lock_wait = session_lock_wait);

// "恢复过程意外中止: " and the exception's own text, with the "watchdog" tag.
void log_unexpected_failure(std::wstring_view marker_path, std::string_view what) noexcept;

// Runs the watcher's work. An exception that escapes it (out of memory outside the marker reader,
// say) must not reach abort(), which shows an error box and exits with 3, a code that means
// something else: it is logged with the "watchdog" tag, and the watcher ends with RestoreFailed.
template <typename Work>
ExitCode run_watch_catching(std::wstring_view marker_path, Work work) noexcept {
    try {
        return work();
    } catch (const std::exception& failure) {
        log_unexpected_failure(marker_path, failure.what());
    } catch (...) {
        log_unexpected_failure(marker_path, "unknown exception");
    }
    return ExitCode::RestoreFailed;
}

// A base-10 process id: an optional '+' and one or more ASCII digits, at most 4294967295.
std::optional<std::uint32_t> parse_process_id(std::string_view text);

} // namespace watchdog
