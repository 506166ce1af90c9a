#pragma once

#include <system_state_watchdog/client.hpp>

#include <chrono>
#include <string_view>

namespace watchdog::client {

// The launcher only starts the watcher and ends; half a minute is more than any machine needs.
inline constexpr std::chrono::milliseconds launcher_wait{30000};

// `watchdog_executable`, or invalid_argument when not a full path: CreateProcessW would complete a
// relative one from the current folder, where a download of that name runs with the host's rights.
std::expected<std::wstring, Error> full_watchdog_path(std::wstring_view watchdog_executable);

// start_watchdog with the launcher waited for at most `wait`; a launcher still running then is
// ended and the start fails.
std::expected<void, Error> start_watchdog_within(std::wstring_view watchdog_executable,
                                                 std::string_view session_id,
                                                 std::wstring_view marker_path,
                                                 std::chrono::milliseconds wait);

} // namespace watchdog::client
