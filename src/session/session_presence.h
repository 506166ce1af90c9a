#pragma once

// Whether a run is still alive. A run is alive while something of it is: the main application,
// from writing its marker until it has finished cleanly, and its watcher, from its start until
// it has restored. Each of them holds the run's presence object, a named event; a named object
// exists exactly while some process holds a handle to it, so a crash or a kill ends the hold
// together with the process. Neither the session id's form nor the process id (which the system
// hands out again) takes part.

#include "session/session_lock.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <cstdint>
#include <expected>
#include <string>

namespace watchdog {

std::wstring session_presence_name(const SessionKey& key);

// Makes the run count as alive until the returned handle is closed; why not when the object
// cannot be created.
std::expected<UniqueHandle, Win32Failure> hold_session_presence(const SessionKey& key);

enum class PresenceSeen {
    absent,           // nobody holds it: the run is over
    held,             // the run is alive
    held_with_rights, // somebody holds it whom this process may not look at: an instance of the
                      // application with other rights (elevated, say), so alive
    other_object,     // another kind of object has the name: nobody can tell
    unknown,          // the system would not say
};

struct Presence {
    PresenceSeen seen = PresenceSeen::absent;
    Win32Failure failure{}; // for unknown: why
};

// Whether some process holds the run's presence object.
Presence look_for_presence(const SessionKey& key);

// What opening the presence object failing says. Only "not found" proves that nobody holds it.
Presence presence_after_open_failure(Win32Failure failure);

} // namespace watchdog
