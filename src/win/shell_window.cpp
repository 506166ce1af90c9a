#include "win/shell_window.h"

namespace watchdog {

std::optional<DWORD> shell_process() {
    const HWND shell = GetShellWindow();
    if (shell == nullptr) {
        return std::nullopt;
    }
    DWORD process = 0;
    if (GetWindowThreadProcessId(shell, &process) == 0) {
        return std::nullopt;
    }
    return process;
}

bool belongs_to_shell(HWND window, std::optional<DWORD> process) {
    if (!process) {
        return true;
    }
    DWORD owner = 0;
    return GetWindowThreadProcessId(window, &owner) != 0 && owner == *process;
}

std::expected<HWND, Win32Failure>
find_shell_top_level_window(std::optional<DWORD> process, HWND after, const wchar_t* class_name) {
    HWND window = after;
    while (true) {
        // FindWindowExW is not documented to set an error when nothing matches: cleared first,
        // the failure never carries an error that an earlier call left.
        SetLastError(ERROR_SUCCESS);
        window = FindWindowExW(nullptr, window, class_name, nullptr);
        if (window == nullptr) {
            return std::unexpected(last_win32_failure());
        }
        if (belongs_to_shell(window, process)) {
            return window;
        }
    }
}

} // namespace watchdog
