#pragma once

// The clean end of a run, told to its watcher. Without it a watcher waits for its main process
// for as long as that lives: a host that protects and ends a thousand times would keep a
// thousand watchers. The application, having removed its marker, sets the session's end
// request, a named manual-reset event; the watcher waits on it beside the main process, and
// when it is set looks at the marker itself: it stands down only while the marker no longer
// holds its session, so that nobody else can make it skip a restore. A watcher that stood down
// says so by setting its session's presence object (see session_presence.h), which the
// application waits for: the watcher may not have started when the request is made, and the
// request lives only while somebody holds it.

#include "session/session_lock.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

std::wstring run_end_name(const SessionKey& key);

// The watcher's side: the session's end request, set or not (created when the application has
// not made one). Why not when it cannot be had; the watcher then waits for its main process
// alone.
std::expected<UniqueHandle, Win32Failure> open_run_end(const SessionKey& key);

// The application's side: sets the session's end request and returns it, to be held until the
// watcher has answered (or the wait for it is over).
std::expected<UniqueHandle, Win32Failure> request_run_end(const SessionKey& key);

// The watcher's answer, on the presence object both hold: it has let go of everything of the
// run and ends.
void announce_stood_down(HANDLE presence);

// Whether the watcher answered within `wait`, on the application's own hold of the presence
// object.
bool stood_down_within(HANDLE presence, std::chrono::milliseconds wait);

} // namespace watchdog
