#pragma once

#include "win/unique_resource.h"

#include <windows.h>

namespace watchdog {

// The null device (\\.\NUL) opened with an inheritable handle, for a child's standard streams:
// reads end at once, writes vanish.
UniqueHandle open_inheritable_null_device(DWORD access);

} // namespace watchdog
