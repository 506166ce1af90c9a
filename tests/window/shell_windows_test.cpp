// The shell's own windows against look-alikes of another process: a program that owns a window
// of the taskbar's class, and an old-style file dialog whose shell view holds a list view, both
// above the desktop in the Z order.

#include "desktop_icons/icon_view.h"
#include "desktop_icons/icon_visibility.h"
#include "scenario.h"
#include "taskbar/taskbar_restore.h"
#include "win/window_handle.h"

#include <gtest/gtest.h>

namespace watchdog::testing {
namespace {

// Not a style any stand-in starts with: a taskbar that shows it was given the record.
constexpr DWORD recorded_style = WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES;

struct ShellsWindows {
    HWND primary = nullptr;
    HWND secondary = nullptr;
    HWND list_view = nullptr;
};

struct LookAlikes {
    HWND taskbar = nullptr;
    HWND secondary = nullptr;
    HWND list_view = nullptr;
};

// The shell's taskbars and its icons under a worker window (so that the top-level pass is
// reached), optionally with its program-manager window as the desktop's shell window.
ShellsWindows create_shells_windows(StandInDesktop& ground, bool shell_window) {
    return on_shell(ground, [&] {
        ShellsWindows made;
        const auto taskbar = [&](TaskbarKind kind) {
            return create_taskbar_window(ground.taskbar_log,
                                         {.kind = kind, .ex_style = WS_EX_TOOLWINDOW})
                .value();
        };
        made.primary = taskbar(TaskbarKind::primary);
        made.secondary = taskbar(TaskbarKind::secondary);
        register_desktop_window_classes().value();
        made.list_view = create_worker_icons(ground.icons, false).value().list_view;
        if (shell_window) {
            EXPECT_TRUE(make_shell_window(FindWindowW(L"Progman", nullptr)));
        }
        return made;
    });
}

// The other process's newest window of `class_name` on the desktop.
HWND window_of(const StandInDesktop& ground, DWORD process, const wchar_t* class_name) {
    return on_desktop(ground, [&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, class_name, nullptr); window;
             window = FindWindowExW(nullptr, window, class_name, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process) {
                return window;
            }
        }
        return HWND{};
    });
}

// The other process, told to quit however the check ends: left running, it would keep the
// test runner's output pipe open.
struct LookAlikeProcess {
    NamedEvent quit;
    ChildProcess process;
    ~LookAlikeProcess() {
        SetEvent(quit.handle.get());
        if (!wait_for_exit(process, generous_wait)) {
            terminate(process);
        }
    }
};

struct LookAlikeCase {
    const char* name;
    bool shell_window;
    bool shells_own_taken; // false: the look-alikes are taken, as on a desktop without a shell
};

void check_look_alikes(const LookAlikeCase& row) {
    SCOPED_TRACE(row.name);
    StandInDesktop ground;
    const ShellsWindows shells = create_shells_windows(ground, row.shell_window);
    // Started after the shell's windows, so that its own lie above them in the Z order.
    const NamedEvent ready = create_named_event();
    NamedEvent quit = create_named_event();
    const std::wstring quit_name = quit.name;
    const LookAlikeProcess other{
        std::move(quit),
        start_process(sibling_executable(L"stand-in-shell.exe"),
                      {L"--ready", ready.name, L"--quit", quit_name, L"--secondary-taskbars", L"1",
                       L"--icons", L"dialog", L"--icons-hidden"},
                      {.desktop = ground.desktop.name})};
    ASSERT_EQ(WaitForSingleObject(ready.handle.get(), generous_wait), WAIT_OBJECT_0);
    const HWND dialog = window_of(ground, other.process.id, L"WatchdogFileDialog");
    const LookAlikes look_alikes{window_of(ground, other.process.id, L"Shell_TrayWnd"),
                                 window_of(ground, other.process.id, L"Shell_SecondaryTrayWnd"),
                                 find_icon_list_view_under(dialog).value_or(nullptr)};
    ASSERT_NE(look_alikes.list_view, nullptr);
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 2,
        .windows = {{.hwnd = window_handle_value(shells.primary),
                     .ex_style = static_cast<std::int32_t>(recorded_style)},
                    {.hwnd = window_handle_value(shells.secondary),
                     .ex_style = static_cast<std::int32_t>(recorded_style)}}};

    const auto taskbar = on_desktop(ground, [&] { return restore_taskbar(snapshot); });
    const auto icons = on_desktop(ground, [&] { return restore_desktop_icons(true); });

    EXPECT_TRUE(taskbar.has_value()) << taskbar.error();
    EXPECT_TRUE(icons.has_value()) << icons.error();
    const bool ours = row.shells_own_taken;
    EXPECT_EQ(ex_style_of(shells.primary), ours ? recorded_style : DWORD{WS_EX_TOOLWINDOW});
    EXPECT_EQ(ex_style_of(look_alikes.taskbar), ours ? DWORD{WS_EX_TOOLWINDOW} : recorded_style);
    // Without the shell's guard the look-alike secondary, above the shell's own, falls to the
    // second record by position.
    EXPECT_EQ(ex_style_of(look_alikes.secondary), ours ? DWORD{WS_EX_TOOLWINDOW} : recorded_style);
    EXPECT_EQ(ex_style_of(shells.secondary), recorded_style);
    EXPECT_EQ(has_visible_style(shells.list_view), ours);
    EXPECT_EQ(has_visible_style(look_alikes.list_view), !ours);
}

TEST(ShellWindows, TheShellsOwnTaskbarAndIconsAreTakenOverAnotherProcesssLookAlikes) {
    const LookAlikeCase cases[] = {
        {"with a shell window", true, true},
        {"without a shell window, the search takes the first as it finds it", false, false},
    };
    for (const auto& row : cases) {
        check_look_alikes(row);
    }
}

} // namespace
} // namespace watchdog::testing
