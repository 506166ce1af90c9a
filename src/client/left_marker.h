#pragma once

// A marker that a previous run left behind, as the library needs to see it before deciding
// whether to settle or discard it.

#include <string_view>

namespace watchdog::client {

// Whether a marker is at the path whose run something still holds alive (a watcher restoring it,
// say), whatever rights it runs with.
bool leftover_run_alive(std::wstring_view marker_path);

} // namespace watchdog::client
