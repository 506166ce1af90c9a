#include "shell_desktop.h"

#include <gtest/gtest.h>

namespace watchdog::testing {
namespace {

LRESULT CALLBACK plain_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

// The isolation that lets window-level tests run in parallel: a window made on one private
// desktop is found from that desktop only.
TEST(PrivateDesktop, WindowsAreVisibleOnlyFromTheirOwnDesktop) {
    PrivateDesktop desktop;
    create_private_desktop(desktop);
    ShellThread shell;
    start_shell_thread(shell, desktop);
    const wchar_t* class_name = L"WatchdogIsolationProbe";
    HWND created = nullptr;
    invoke(shell, [&] {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = plain_window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = class_name;
        RegisterClassW(&window_class);
        created = CreateWindowExW(0, class_name, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    });
    ASSERT_NE(created, nullptr);

    HWND found_inside = nullptr;
    run_on_desktop(desktop, [&] { found_inside = FindWindowW(class_name, nullptr); });
    EXPECT_EQ(found_inside, created);

    PrivateDesktop other;
    create_private_desktop(other);
    HWND found_outside = created;
    run_on_desktop(other, [&] { found_outside = FindWindowW(class_name, nullptr); });
    EXPECT_EQ(found_outside, nullptr);

    invoke(shell, [&] { DestroyWindow(created); });
}

} // namespace
} // namespace watchdog::testing
