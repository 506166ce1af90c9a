#include "window_class.h"

namespace watchdog::testing {

std::string failure(const char* what) {
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

std::expected<void, std::string> ensure_window_class(HINSTANCE instance, const wchar_t* name,
                                                     WNDPROC procedure) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = name;
    if (RegisterClassW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return std::unexpected(failure("RegisterClassW"));
    }
    WNDCLASSW registered{};
    if (!GetClassInfoW(instance, name, &registered)) {
        return std::unexpected(failure("GetClassInfoW"));
    }
    if (registered.lpfnWndProc != procedure) {
        return std::unexpected("a window class of the same name has another window procedure");
    }
    return {};
}

} // namespace watchdog::testing
