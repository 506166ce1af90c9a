#pragma once

#include "marker/records.h"
#include "win/bounded_call.h"

#include <windows.h>

#include <chrono>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::string_view taskbar_not_found_message = "未找到 Windows 系统任务栏: ";
inline constexpr std::string_view taskbar_unanswered_message = "任务栏窗口未响应";

// How long one taskbar window's thread may take to let it be restored (a shell stalling for a
// second still gets its taskbar back), and the whole restore's wait however many threads stall.
inline constexpr std::chrono::milliseconds taskbar_answer_limit{1500};
inline constexpr std::chrono::milliseconds taskbar_wait_budget{4000};

// Gives every taskbar window found now its recorded extended style and layered attributes, shows
// it, and hands the recorded app-bar state back to the shell, waiting for it only on `worker`.
// Fails when there is no primary taskbar (changing nothing), and when a window's thread does not
// answer in time: that window is left alone, the others still restored, and for the primary one
// the app-bar state not sent (the shell handles it on that thread). Other failures are ignored.
std::expected<void, std::string> restore_taskbar(const TaskbarRecoverySnapshot& snapshot,
                                                 BoundedWorker& worker);

// The shell's own primary taskbar, or taskbar_not_found_message and the Windows error text.
std::expected<HWND, std::string> find_primary_taskbar();

// The primary taskbar followed by every top-level secondary taskbar of the shell, in the window
// manager's search order.
std::vector<HWND> find_taskbar_windows(HWND primary);

} // namespace watchdog
