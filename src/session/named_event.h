#pragma once

// What a run's processes learn of each other through a name: whether something holds it, and
// whose it is. A named object exists exactly while some process holds a handle to it, so a
// crash or a kill ends the hold together with the process.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <expected>
#include <string>

namespace watchdog {

enum class NameHolder {
    nobody,                // the name is free (or was, and this process holds it now)
    a_run,                 // a run holds it
    a_run_of_other_rights, // one that this process may not open holds it: an instance with other
                           // rights (elevated, say)
    another_object,        // an object of another kind has the name: nobody can tell
    unknown,               // the system would not say
};

struct NameState {
    NameHolder holder = NameHolder::unknown;
    Win32Failure failure{}; // the failure that told it, where one did
};

// What a failure to open or create a named object says of whoever holds the name. Only "not
// found" proves that nobody holds it.
NameState name_state_after(Win32Failure failure);

struct CreatedEvent {
    UniqueHandle handle;
    bool existed = false; // somebody held it already
};

// The named manual-reset event, created or, when it exists, opened: a run's presence, its items'
// guards and its end request are all such events.
std::expected<CreatedEvent, NameState> create_named_event(const std::wstring& name);

} // namespace watchdog
