#pragma once

#include <windows.h>

#include <cstdint>

namespace watchdog {

// A window handle as the recovery marker stores it: the handle's value as a signed 64-bit
// integer, only ever compared with the handles of windows found later.
inline std::int64_t window_handle_value(HWND window) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(window));
}

} // namespace watchdog
