#pragma once

// Whether a session's run is still alive. A run is alive while something of it is: the main
// application, from writing its marker until it has finished cleanly, and its watcher, from its
// start until it has restored. Each of them holds the session's presence object, a named
// event; a named object exists exactly while some process holds a handle to it, so a crash or a
// kill ends the hold together with the process. Neither the session id's form nor the process
// id (which the system hands out again) takes part.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

std::wstring session_presence_name(std::string_view session_id);

// Makes the session count as alive until the returned handle is closed; why not when the object
// cannot be created.
std::expected<UniqueHandle, Win32Failure> hold_session_presence(std::string_view session_id);

// Whether some process holds the session's presence object.
bool session_presence_held(std::string_view session_id);

// Opening the presence object failed: only "not found" proves that nobody holds it. An object
// that may not be opened, or another kind of object under its name, is somebody's.
bool presence_held_after_open_failure(Win32Failure failure);

} // namespace watchdog
