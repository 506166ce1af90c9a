#pragma once

// Finding the list view that shows the desktop icons. The shell keeps it under its shell view
// window, which lives either under the program-manager window or under another top-level
// window (WorkerW on current Windows versions). Nothing is cached: the shell may re-create
// these windows at any time, so every caller searches afresh.

#include "win/win32_failure.h"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view shell_view_class = "SHELLDLL_DefView";
inline constexpr std::string_view icon_list_view_class = "SysListView32";
inline constexpr std::string_view icon_view_not_found_message = "未找到 Windows 桌面图标窗口";

// The window's class name as UTF-8, read through a 64-unit buffer: a longer name arrives cut
// to 63 characters and so never equals any of the shell's class names. None when the name
// cannot be read.
std::optional<std::string> get_window_class_name(HWND window);

// The first descendant of `parent`, at any depth and in the system's enumeration order, whose
// class name equals `class_name` exactly (same length, case-sensitive).
std::optional<HWND> find_child_window_by_class(HWND parent, std::string_view class_name);

// The first SysListView32 under the first SHELLDLL_DefView under `window`. A later shell view
// under the same window is never examined.
std::optional<HWND> find_icon_list_view_under(HWND window);

// The desktop icon view: under the program-manager window if it holds one, otherwise under
// the first top-level window in enumeration order that does. When the desktop has a shell
// window, windows of other processes are passed over: a file dialog holds a shell view and a
// list view too.
std::expected<HWND, std::string> find_desktop_icon_view();

// How the top-level pass ends. EnumWindows reports FALSE whenever the callback stopped it,
// so a found view wins over that result; only an enumeration that failed without finding
// anything reports its failure.
std::expected<HWND, std::string>
top_level_search_outcome(HWND found, std::expected<void, Win32Failure> enumeration);

} // namespace watchdog
