#pragma once

// Finding the list view of the desktop icons under the shell's view window. Nothing is cached: the
// shell may re-create these windows at any time.

#include <windows.h>

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view shell_view_class = "SHELLDLL_DefView";
inline constexpr std::string_view icon_list_view_class = "SysListView32";
inline constexpr std::string_view icon_view_not_found_message = "未找到 Windows 桌面图标窗口";

// The shell's own desktop icon view (win/shell_window.h): under the program-manager window if it
// holds one, else under the first top-level window in enumeration order that does (WorkerW today).
std::expected<HWND, std::string> find_desktop_icon_view();

} // namespace watchdog
