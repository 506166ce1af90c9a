#include "shell_lookup.h"

namespace watchdog::testing {
namespace {

BOOL CALLBACK find_icon_view_under(HWND top_level, LPARAM result) {
    HWND shell_view = FindWindowExW(top_level, nullptr, L"SHELLDLL_DefView", nullptr);
    HWND list_view =
        shell_view ? FindWindowExW(shell_view, nullptr, L"SysListView32", nullptr) : nullptr;
    *reinterpret_cast<HWND*>(result) = list_view;
    return list_view == nullptr;
}

} // namespace

std::vector<HWND> find_shell_taskbars() {
    std::vector<HWND> windows;
    if (HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr)) {
        windows.push_back(primary);
    }
    for (HWND after = nullptr;
         (after = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) != nullptr;) {
        windows.push_back(after);
    }
    return windows;
}

HWND find_shell_icon_view() {
    HWND found = nullptr;
    EnumWindows(find_icon_view_under, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace watchdog::testing
