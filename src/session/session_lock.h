#pragma once

// One restore at a time for a session: the watcher that ends with the main application and the
// application's next start settling a marker left behind must not both act on the same marker and
// desktop at once (two menu commands would toggle the icons back). A named mutex per run decides.

#include "session/object_names.h"
#include "win/unique_resource.h"

#include <chrono>
#include <cstdint>
#include <expected>

namespace watchdog {

// The session's lock, owned: released when it goes.
struct SessionLock {
    UniqueHandle mutex;

    SessionLock() = default;
    SessionLock(SessionLock&&) = default;
    SessionLock& operator=(SessionLock&&) = default;
    ~SessionLock();
};

// The longest any wait for another process of a run may be: a watcher's whole restore takes
// seconds, and a wait without end (INFINITE) must never come from a caller's number.
inline constexpr std::chrono::milliseconds longest_session_wait{60000};

// `wait` in whole milliseconds for a Win32 wait, between 0 and longest_session_wait.
std::uint32_t bounded_wait_ms(std::chrono::milliseconds wait);

// Takes the session's lock once no other process restores it, waiting at most `wait` (bounded as
// bounded_wait_ms says); an abandoned lock is taken over, one still held then is a_run's.
std::expected<SessionLock, NameState> lock_session(const SessionKey& key,
                                                   std::chrono::milliseconds wait);

} // namespace watchdog
