#pragma once

#include "main/mode_arguments.h"
#include "protocol/launcher_protocol.h"
#include "win/unique_resource.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view exit_unconfirmed_message =
    "无法确认主进程已经退出，已保留恢复标记供下次启动处理";
inline constexpr std::string_view unexpected_failure_prefix = "恢复过程意外中止: ";
// How long the watcher lets another process finish restoring the same session first.
inline constexpr std::chrono::milliseconds session_lock_wait{15000};

// Waits for the main process to end, then runs one restore against the marker.
ExitCode run_watch(ModeArguments arguments);

// Everything after the wait: a main process whose end is not confirmed leaves the desktop and
// the marker alone and is logged once; otherwise one restore run, whose failure is logged.
// The watcher's hold on the session's presence ends as the restore does, before its lock.
ExitCode conclude_watch(bool exit_confirmed, std::wstring_view marker_path,
                        std::string_view session_id, UniqueHandle presence = {},
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
bool exit_confirmed_after_open_failure(std::uint32_t last_error);

} // namespace watchdog
