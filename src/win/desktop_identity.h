#pragma once

#include <string>

namespace watchdog {

// "<window station>\<desktop>" of the calling thread: the desktop whose shell windows it finds
// and changes. Empty when the system cannot say.
std::wstring current_desktop_identity();

} // namespace watchdog
