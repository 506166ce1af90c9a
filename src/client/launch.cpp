#include <system_state_watchdog/client.hpp>

#include "client/messages.h"
#include "win/command_line.h"
#include "win/error_text.h"
#include "win/path.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

#include <vector>

namespace watchdog::client {
namespace {

// The launcher only starts the watcher and ends; half a minute is more than any machine needs.
constexpr DWORD launcher_wait_ms = 30000;
constexpr std::wstring_view watchdog_file_name = L"system-state-watchdog.exe";

LaunchError launch_error(LaunchFailure failure, std::uint32_t exit_code, std::string message) {
    return LaunchError{failure, exit_code, std::move(message)};
}

std::expected<WatchdogStarted, LaunchError> outcome_of(DWORD exit_code, DWORD launcher_id) {
    switch (exit_code) {
    case 0:
        return WatchdogStarted{launcher_id};
    case 2:
        return std::unexpected(
            launch_error(LaunchFailure::usage_error, 2, std::string(usage_error_message)));
    case 3:
        return std::unexpected(launch_error(LaunchFailure::executable_path_unavailable, 3,
                                            std::string(path_unavailable_message)));
    case 4:
        return std::unexpected(launch_error(LaunchFailure::watcher_not_created, 4,
                                            std::string(watcher_not_created_message)));
    default:
        return std::unexpected(
            launch_error(LaunchFailure::unexpected_exit_code, exit_code,
                         std::string(unexpected_exit_prefix) + std::to_string(exit_code)));
    }
}

} // namespace

std::wstring watchdog_beside_this_program() {
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length < capacity) {
            const std::wstring own(buffer.data(), length);
            return join_path(parent_directory(own).value_or(L""), watchdog_file_name);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::expected<WatchdogStarted, LaunchError> start_watchdog(std::wstring_view watchdog_executable,
                                                           std::string_view session_id,
                                                           std::wstring_view marker_path) {
    const auto session = utf8_to_utf16(session_id);
    if (!session) {
        return std::unexpected(launch_error(LaunchFailure::launcher_not_created, 0,
                                            std::string(invalid_session_message)));
    }
    const std::wstring executable(watchdog_executable);
    std::wstring command_line =
        build_command_line(executable, {L"--bootstrap", std::to_wstring(GetCurrentProcessId()),
                                        *session, std::wstring(marker_path)});
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // The launcher shows nothing; without this Windows would show the busy cursor for it.
    startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &information)) {
        return std::unexpected(launch_error(LaunchFailure::launcher_not_created, 0,
                                            std::string(launcher_not_created_prefix) +
                                                windows_error_text(GetLastError())));
    }
    const UniqueHandle launcher(information.hProcess);
    const UniqueHandle launcher_thread(information.hThread);
    if (WaitForSingleObject(launcher.get(), launcher_wait_ms) != WAIT_OBJECT_0) {
        return std::unexpected(launch_error(LaunchFailure::launcher_did_not_end, 0,
                                            std::string(launcher_did_not_end_message)));
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(launcher.get(), &exit_code);
    return outcome_of(exit_code, information.dwProcessId);
}

} // namespace watchdog::client
