#pragma once

// One restore at a time for a session: the watcher that ends with the main application, and a
// main application's next start settling a marker that was left behind, must not both act on
// the same marker and the same desktop at once (two menu commands would toggle the desktop
// icons back). A named mutex per session id, in the caller's logon session, says who does.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

struct SessionLock {
    UniqueHandle mutex;
    bool owned = false; // whether this process may restore the session now

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

// The name of a session's kernel object of the given kind, in the caller's logon session. The
// session id's FNV-1a hash stands in for the id, since a session id may hold any character.
std::wstring session_object_name(std::wstring_view kind, std::string_view session_id);

// The mutex's name.
std::wstring session_lock_name(std::string_view session_id);

// Waits at most `wait` (bounded as bounded_wait_ms says) until no other process restores the
// session. An abandoned lock (its
// holder ended while restoring) is taken over. A lock that could not even be created is a
// failure: that says nothing about anybody restoring.
std::expected<SessionLock, Win32Failure> lock_session(std::string_view session_id,
                                                      std::chrono::milliseconds wait);

} // namespace watchdog
