#pragma once

#include "marker/records.h"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::string_view taskbar_not_found_message = "未找到 Windows 系统任务栏: ";

// Gives every taskbar window found now its recorded extended style and layered attributes,
// shows it, and hands the recorded app-bar state back to the shell. Fails only when there is
// no primary taskbar, and then changes nothing; every later failure is ignored.
std::expected<void, std::string> restore_taskbar(const TaskbarRecoverySnapshot& snapshot);

// The primary taskbar followed by every top-level secondary taskbar, in the window manager's
// search order.
std::vector<HWND> find_taskbar_windows(HWND primary);

// Re-applies `record` (or, when null, only clears WS_EX_TRANSPARENT), then shows the window.
// Reports nothing: a window that vanished in the meantime simply fails every call.
void restore_taskbar_window(HWND window, const TaskbarWindowRecoveryState* record);

} // namespace watchdog
