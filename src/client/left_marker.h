#pragma once

// A marker that a previous run left behind, as the library needs to see it before deciding
// whether to settle or discard it.

#include <system_state_watchdog/client.hpp>

#include "marker_file/marker_file.h"
#include "session/session_lock.h"

#include <chrono>
#include <expected>
#include <optional>
#include <string_view>

namespace watchdog::client {

// The marker left at the path, read once: nothing when there is none, a failed Error saying why
// when it is there but cannot be read now. A marker that is no marker of this version comes back as
// it is.
std::expected<std::optional<SessionMarker>, Error> read_left_marker(BoundedWorker& worker,
                                                                    std::wstring_view marker_path);

// Whether a marker is at the path whose run something still holds alive (a watcher restoring it,
// say), whatever rights it runs with.
bool leftover_run_alive(std::wstring_view marker_path);

// A left marker may be acted on only by whoever holds its session's lock (waited for at most
// `wait_for_watcher`), and only while nothing of its run is alive: the lock, or an Error saying
// whose it is.
std::expected<SessionLock, Error> take_over(std::wstring_view marker_path, const SessionKey& key,
                                            std::chrono::milliseconds wait_for_watcher);

} // namespace watchdog::client
