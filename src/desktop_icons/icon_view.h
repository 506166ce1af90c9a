#pragma once

// Finding the list view of the desktop icons, under the shell's view window, which lives under
// the program-manager window or another top-level one (WorkerW on current Windows versions).
// Nothing is cached: the shell may re-create these windows at any time.

#include <windows.h>

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view shell_view_class = "SHELLDLL_DefView";
inline constexpr std::string_view icon_list_view_class = "SysListView32";
inline constexpr std::string_view icon_view_not_found_message = "未找到 Windows 桌面图标窗口";

// The desktop icon view: under the program-manager window if it holds one, else under the first
// top-level window in enumeration order that does. When the desktop has a shell window, other
// processes' windows are passed over: a file dialog holds a shell view and a list view too.
std::expected<HWND, std::string> find_desktop_icon_view();

} // namespace watchdog
