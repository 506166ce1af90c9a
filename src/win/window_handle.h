#pragma once

#include <windows.h>

#include <cstdint>

namespace watchdog {

// A window handle's value as the recovery marker stores it (TaskbarWindowRecoveryState::hwnd).
inline std::int64_t window_handle_value(HWND window) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(window));
}

} // namespace watchdog
