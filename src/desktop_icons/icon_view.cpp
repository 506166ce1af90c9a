#include "desktop_icons/icon_view.h"

#include "win/error_text.h"
#include "win/shell_window.h"

namespace watchdog {
namespace {

// Only the first shell view under `window` is examined, and only its first list view.
std::optional<HWND> find_icon_list_view_under(HWND window) {
    const auto shell_view = find_child_window_by_class(window, shell_view_class);
    if (!shell_view) {
        return std::nullopt;
    }
    return find_child_window_by_class(*shell_view, icon_list_view_class);
}

// Lives in the searching call's frame; the callback gets its address for one enumeration.
struct TopLevelSearch {
    std::optional<DWORD> shell;
    HWND found = nullptr;
};

// The callback runs inside user32's enumeration loop: an exception unwinding through those
// frames would be undefined, so a window that cannot be examined counts as not matching.
BOOL CALLBACK visit_top_level_window(HWND window, LPARAM search_address) {
    auto& search = *reinterpret_cast<TopLevelSearch*>(search_address);
    try {
        if (!belongs_to_shell(window, search.shell)) {
            return TRUE;
        }
        if (const auto view = find_icon_list_view_under(window)) {
            search.found = *view;
            return FALSE;
        }
    } catch (...) {
    }
    return TRUE;
}

} // namespace

std::expected<HWND, std::string> find_desktop_icon_view() {
    const auto shell = shell_process();
    // Not finding the program-manager window is no failure here: the top-level pass decides.
    if (const auto program_manager = find_shell_top_level_window(shell, nullptr, L"Progman")) {
        if (const auto view = find_icon_list_view_under(*program_manager)) {
            return *view;
        }
    }
    TopLevelSearch search{shell, nullptr};
    // Cleared, so that a failure that sets no error is not reported with an earlier call's.
    SetLastError(ERROR_SUCCESS);
    const bool completed =
        EnumWindows(visit_top_level_window, reinterpret_cast<LPARAM>(&search)) != FALSE;
    // EnumWindows reports FALSE whenever the callback stopped it, so a found view wins; only
    // an enumeration that failed without finding anything reports its failure.
    if (search.found != nullptr) {
        return search.found;
    }
    if (!completed) {
        return std::unexpected(windows_error_text(last_win32_failure()));
    }
    return std::unexpected(std::string(icon_view_not_found_message));
}

} // namespace watchdog
