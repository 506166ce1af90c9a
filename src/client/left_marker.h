#pragma once

// A marker that a previous run left behind, as the library needs to see it before deciding
// whether to settle or discard it.

#include <system_state_watchdog/client.hpp>

#include "session/session_lock.h"

#include <chrono>
#include <expected>
#include <optional>
#include <string>

namespace watchdog::client {

struct LeftMarker {
    std::string bytes;
    std::string session_id; // empty when the bytes cannot be read as a marker
};

// The marker at the (file-system form of the) path; nothing when there is none, a message when
// there is one that cannot be read.
std::expected<std::optional<LeftMarker>, std::string> read_left_marker(const std::wstring& path);

// Whether a marker is at the path whose run something still holds alive (a watcher restoring it,
// say).
bool leftover_run_alive(const std::wstring& marker_path);

// A left marker may be acted on only by whoever holds its session's lock (waited for at most
// `wait_for_watcher`), and only while nothing of its run is alive: the lock, or why not.
std::expected<SessionLock, Error> take_over(std::wstring_view marker_path,
                                            std::string_view session_id,
                                            std::chrono::milliseconds wait_for_watcher);

} // namespace watchdog::client
