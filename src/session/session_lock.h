#pragma once

// One restore at a time for a session: the watcher that ends with the main application, and a
// main application's next start settling a marker that was left behind, must not both act on
// the same marker and the same desktop at once (two menu commands would toggle the desktop
// icons back). A named mutex per run, in the caller's logon session, says who does.

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

// Which run a session's objects belong to: its marker and its session id together. Two
// applications that chose the same session id for different markers are two runs and never
// meet; every process that means the same marker makes the same key of it (comparable_path).
struct SessionKey {
    std::wstring marker;
    std::string session_id;

    auto operator<=>(const SessionKey&) const = default;
};

SessionKey session_key(std::wstring_view marker_path, std::string_view session_id);

// The name of a run's kernel object of the given kind, in the caller's logon session. An FNV-1a
// hash of the key stands in for it, since a path and a session id may hold any character.
std::wstring session_object_name(std::wstring_view kind, const SessionKey& key);

// The name of an object of the given kind derived from `text` alone (no run's).
std::wstring named_object_name(std::wstring_view kind, std::string_view text);

// The mutex's name.
std::wstring session_lock_name(const SessionKey& key);

// Waits at most `wait` (bounded as bounded_wait_ms says) until no other process restores the
// session. An abandoned lock (its
// holder ended while restoring) is taken over. A lock that could not even be created is a
// failure: that says nothing about anybody restoring.
std::expected<SessionLock, Win32Failure> lock_session(const SessionKey& key,
                                                      std::chrono::milliseconds wait);

} // namespace watchdog
