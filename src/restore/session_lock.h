#pragma once

// One restore at a time for a session: the watcher that ends with the main application, and a
// main application's next start settling a marker that was left behind, must not both act on
// the same marker and the same desktop at once (two menu commands would toggle the desktop
// icons back). A named mutex per session id, in the caller's logon session, says who does.

#include "win/unique_resource.h"

#include <chrono>
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

// The mutex's name: the session id's FNV-1a hash, since a session id may hold any character.
std::wstring session_lock_name(std::string_view session_id);

// Waits at most `wait` until no other process restores the session. An abandoned lock (its
// holder ended while restoring) is taken over.
SessionLock lock_session(std::string_view session_id, std::chrono::milliseconds wait);

} // namespace watchdog
