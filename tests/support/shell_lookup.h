#pragma once

// Finding the shell's windows the plain way, as a main application would: an oracle for tests
// that is independent of the product's own searches.

#include <windows.h>

#include <vector>

namespace watchdog::testing {

// The primary taskbar, then every top-level secondary taskbar in search order.
std::vector<HWND> find_shell_taskbars();

// The first SysListView32 directly under the first SHELLDLL_DefView of a top-level window.
HWND find_shell_icon_view();

} // namespace watchdog::testing
