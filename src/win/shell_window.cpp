#include "win/shell_window.h"

#include "win/utf.h"

#include <array>

namespace watchdog {
namespace {

constexpr int class_name_buffer_units = 64;

// Lives in the searching call's frame for one enumeration; the callback is given its address.
struct ChildWindowSearch {
    std::string_view class_name;
    HWND found = nullptr;
};

// The callback runs inside user32's enumeration loop: an exception unwinding through those
// frames would be undefined, so a window that cannot be examined counts as not matching.
BOOL CALLBACK visit_child_window(HWND window, LPARAM search_address) {
    auto& search = *reinterpret_cast<ChildWindowSearch*>(search_address);
    try {
        if (get_window_class_name(window) == search.class_name) {
            search.found = window;
            return FALSE;
        }
    } catch (...) {
    }
    return TRUE;
}

} // namespace

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

std::optional<std::string> get_window_class_name(HWND window) {
    std::array<wchar_t, class_name_buffer_units> buffer{};
    const int length = GetClassNameW(window, buffer.data(), class_name_buffer_units);
    if (length <= 0) {
        return std::nullopt;
    }
    return utf16_to_utf8(std::wstring_view(buffer.data(), static_cast<std::size_t>(length)));
}

std::optional<HWND> find_child_window_by_class(HWND parent, std::string_view class_name) {
    // EnumChildWindows with a null parent would walk the top-level windows instead, which are
    // nobody's descendants.
    if (parent == nullptr) {
        return std::nullopt;
    }
    ChildWindowSearch search{class_name, nullptr};
    // The return value says nothing useful: it is FALSE both when the callback stopped the
    // enumeration and when there was nothing to enumerate. `found` alone tells the outcome.
    EnumChildWindows(parent, visit_child_window, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr ? std::optional(search.found) : std::nullopt;
}

} // namespace watchdog
