#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/kept_runs.h"
#include "client/launch.h"
#include "client/marker_file.h"
#include "protocol/launcher_protocol.h"
#include "win/command_line.h"
#include "win/error_text.h"
#include "win/module_path.h"
#include "win/path.h"
#include "win/process_start.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

#include <algorithm>

namespace watchdog::client {
namespace {

constexpr UINT launcher_ended_by_library = 1;
constexpr DWORD launcher_end_wait_ms = 5000;
constexpr std::wstring_view watchdog_file_name = L"system-state-watchdog.exe";

std::unexpected<Error> launcher_failed(std::uint32_t exit_code, std::string message) {
    return std::unexpected(Error{Code::launcher_failed, std::move(message), exit_code});
}

} // namespace

std::expected<std::wstring, Error> full_watchdog_path(std::wstring_view watchdog_executable) {
    if (!is_full_path(watchdog_executable)) {
        return fail(Code::invalid_argument,
                    about(relative_watchdog_prefix, watchdog_executable, {}));
    }
    return std::wstring(watchdog_executable);
}

std::expected<std::wstring, Error> watchdog_beside_this_program() {
    const auto own = current_executable_path();
    const auto folder = own ? parent_directory(*own) : std::nullopt;
    if (!folder || !is_full_path(*folder)) {
        return fail(Code::failed,
                    std::string(own_path_unknown_prefix) +
                        (own ? utf16_to_utf8(*own) : windows_error_text(own.error())));
    }
    return join_path(*folder, watchdog_file_name);
}

std::expected<void, Error> start_watchdog(std::wstring_view watchdog_executable,
                                          std::string_view session_id,
                                          std::wstring_view marker_path) {
    return start_watchdog_within(watchdog_executable, session_id, marker_path, launcher_wait);
}

std::expected<void, Error> start_watchdog_within(std::wstring_view watchdog_executable,
                                                 std::string_view session_id,
                                                 std::wstring_view marker_path,
                                                 std::chrono::milliseconds wait) {
    if (const auto checked = check_session_id(session_id); !checked) {
        return std::unexpected(checked.error());
    }
    const auto executable = full_watchdog_path(watchdog_executable);
    if (!executable) {
        return std::unexpected(executable.error());
    }
    // The watcher's current folder is not necessarily this process's: a relative path must
    // name the same marker to both.
    const std::wstring marker = full_path(marker_path).value_or(std::wstring(marker_path));
    // The launcher inherits nothing and shows nothing; without STARTF_FORCEOFFFEEDBACK Windows
    // would show the busy cursor for it.
    auto started = start_process(
        {.executable = *executable,
         .command_line = build_command_line(*executable, {std::wstring(bootstrap_switch),
                                                          std::to_wstring(GetCurrentProcessId()),
                                                          *utf8_to_utf16(session_id), marker}),
         .startup_flags = STARTF_FORCEOFFFEEDBACK,
         .folder = system_folder().value_or(L"")});
    if (!started) {
        return fail(Code::launcher_not_started, about(launcher_not_created_prefix, *executable,
                                                      windows_error_text(started.error())));
    }
    const UniqueHandle& launcher = started->process;
    const auto bounded = std::clamp(wait, std::chrono::milliseconds(0), launcher_wait);
    if (WaitForSingleObject(launcher.get(), static_cast<DWORD>(bounded.count())) != WAIT_OBJECT_0) {
        // Whatever it is, it is not a launcher that does its work: it is not left running. It
        // may have started a watcher before it stopped: the run is noted as watched, so that
        // its clean end (or the protection's undoing) asks that watcher to stand down too.
        note_watcher_started(key_of(marker, session_id));
        if (!TerminateProcess(launcher.get(), launcher_ended_by_library)) {
            return launcher_failed(0, about(launcher_not_ended_prefix, *executable,
                                            windows_error_text(last_win32_failure())));
        }
        WaitForSingleObject(launcher.get(), launcher_end_wait_ms);
        return launcher_failed(0, about(launcher_did_not_end_prefix, *executable, {}));
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(launcher.get(), &exit_code)) {
        return launcher_failed(0, about(unexpected_exit_prefix, *executable,
                                        windows_error_text(last_win32_failure())));
    }
    switch (static_cast<ExitCode>(exit_code)) {
    case ExitCode::Success:
        note_watcher_started(key_of(marker, session_id));
        return {};
    case ExitCode::UsageError:
        return launcher_failed(exit_code, about(usage_error_prefix, *executable, {}));
    case ExitCode::ExecutablePathUnavailable:
        return launcher_failed(exit_code, about(path_unavailable_prefix, *executable, {}));
    case ExitCode::SpawnFailed:
        return launcher_failed(exit_code, about(watcher_not_created_prefix, *executable, {}));
    default:
        return launcher_failed(
            exit_code, about(unexpected_exit_prefix, *executable, std::to_string(exit_code)));
    }
}

} // namespace watchdog::client
