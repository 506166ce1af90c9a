#pragma once

// Telling the shell's own windows from look-alikes: any program may create a window of the
// taskbar's class, and an old-style file dialog holds a shell view and list view like the
// desktop's. When the desktop has a shell window, only its owner process's windows are the shell's.

#include "win/win32_failure.h"

#include <windows.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

// The process that owns the desktop's shell window, or none when the desktop has none.
std::optional<DWORD> shell_process();

// True when `window` belongs to `process`, or when there is no shell process to ask for.
bool belongs_to_shell(HWND window, std::optional<DWORD> process);

// The shell's first top-level window of `class_name` after `after` (null: the top of the Z order),
// as FindWindowExW searches; else the failure FindWindowExW reported as it found no more.
std::expected<HWND, Win32Failure>
find_shell_top_level_window(std::optional<DWORD> process, HWND after, const wchar_t* class_name);

// The window's class name as UTF-8, read through a 64-unit buffer: a longer name arrives cut to 63
// characters and so never equals any of the shell's class names. None when the name cannot be read.
std::optional<std::string> get_window_class_name(HWND window);

// The first descendant of `parent`, at any depth and in the system's enumeration order, whose
// class name equals `class_name` exactly (same length, case-sensitive).
std::optional<HWND> find_child_window_by_class(HWND parent, std::string_view class_name);

} // namespace watchdog
