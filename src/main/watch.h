#pragma once

#include "main/mode_arguments.h"
#include "protocol/launcher_protocol.h"
#include "session/run_end.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::string_view exit_unconfirmed_message =
    "无法确认主进程已经退出，已保留恢复标记供下次启动处理";
inline constexpr std::string_view unexpected_failure_prefix = "恢复过程意外中止: ";
// How long the watcher lets another process finish restoring the same session first.
inline constexpr std::chrono::milliseconds session_lock_wait{15000};

// Waits for the main process to end, then runs one restore against the marker; or stands down
// when the run has ended cleanly.
ExitCode run_watch(ModeArguments arguments);

// What a watcher holds of its run while it waits: the session's presence (the run is alive),
// the guards of the items its marker records (nobody else may protect them before they are
// back), and the session's end request.
struct WatcherHolds {
    UniqueHandle presence;
    std::vector<UniqueHandle> items;
    UniqueHandle run_end;
};

// Takes what the watcher holds from its start. The items are those that the marker at the path
// records for this session now; nothing that cannot be had keeps the watcher from its work.
WatcherHolds hold_run(std::wstring_view marker_path, std::string_view session_id);

enum class WaitOutcome {
    main_process_ended,
    exit_unconfirmed,
    run_ended_cleanly, // the application ended its run and no marker of the session is left
};

// How long a watcher whose end request found its run still going waits before it listens to the
// request again.
inline constexpr std::uint32_t request_pause_ms = 1000;

// Waits without time-out until the main process has ended. With an end request, it also wakes
// when that is set, and asks `run_is_over`: only a yes ends the wait early. A no (a request set
// too early, or by somebody else) is forgotten after a pause, and the wait listens again.
WaitOutcome wait_for_main_process(std::uint32_t process_id, HANDLE run_end,
                                  const std::function<bool()>& run_is_over);

// The marker as read when the end request came (read_marker_bytes's outcome): the run is over
// only when no marker of the session is left, none at all or another session's. A marker that
// cannot be read may still be the session's.
bool run_is_over(const std::expected<std::optional<std::string>, std::string>& marker,
                 std::string_view session_id);

// A run that ended cleanly: lets go of its items, then answers the application on the presence
// object (`announce`, which tests may watch), then of everything else.
void stand_down(WatcherHolds holds, void (*announce)(HANDLE presence) = announce_stood_down);

// Everything after the wait: a main process whose end is not confirmed leaves the desktop and
// the marker alone and is logged once; a run that ended cleanly lets go of everything, says so,
// and touches nothing; otherwise one restore run, whose failure is logged. The watcher's holds
// end as the restore does, before its lock.
ExitCode conclude_watch(WaitOutcome outcome, std::wstring_view marker_path,
                        std::string_view session_id, WatcherHolds holds = {},
                        std::chrono::milliseconds lock_wait = session_lock_wait);

// "恢复过程意外中止: " and the exception's own text, with the "watchdog" tag.
void log_unexpected_failure(std::wstring_view marker_path, std::string_view what) noexcept;

// Runs the watcher's work. An exception that escapes it, such as running out of memory outside
// the marker reader, must not reach abort(), which shows a runtime error box and ends the
// process with 3, a code that means something else: it is logged with the "watchdog" tag and
// the watcher ends with RestoreFailed.
template <typename Work>
ExitCode run_watch_guarded(std::wstring_view marker_path, Work work) noexcept {
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

// Blocks without time-out until the process has ended; false when that cannot be confirmed.
bool wait_for_process_exit(std::uint32_t process_id);

// OpenProcess failed: only "no such process" proves that the main process is gone; access
// denied and every other error leave it possibly alive.
bool exit_confirmed_after_open_failure(Win32Failure failure);

} // namespace watchdog
