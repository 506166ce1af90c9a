// The shell's own windows against look-alikes of another process, above them in the Z order: a
// taskbar and a secondary taskbar of the shell's classes, and an old-style file dialog whose
// shell view holds a list view.

#include "desktop_icons/icon_visibility.h"
#include "scenario.h"
#include "taskbar/taskbar_restore.h"
#include "win/shell_window.h"
#include "win/window_handle.h"

#include <gtest/gtest.h>

namespace watchdog::testing {
namespace {

// Not a style any stand-in starts with: a taskbar that shows it was given a record.
constexpr DWORD recorded_style = WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES;

struct Windows {
    HWND primary = nullptr;
    HWND secondary = nullptr;
    HWND list_view = nullptr;
};

// The shell's icons lie under a worker window, so that the top-level pass is reached.
Windows create_shells_windows(StandInDesktop& ground, bool shell_window) {
    return on_shell(ground, [&] {
        const auto taskbar = [&](TaskbarKind kind) {
            return create_taskbar_window(ground.taskbar_log, {.kind = kind}).value();
        };
        Windows made{taskbar(TaskbarKind::primary), taskbar(TaskbarKind::secondary)};
        register_desktop_window_classes().value();
        made.list_view = create_worker_icons(ground.icons, false).value().list_view;
        if (shell_window) {
            EXPECT_TRUE(make_shell_window(FindWindowW(L"Progman", nullptr)));
        }
        return made;
    });
}

// The first window of `class_name` on the desktop that `process` owns.
HWND window_of(const StandInDesktop& ground, DWORD process, const wchar_t* class_name) {
    return on_desktop(ground, [&] {
        HWND window = nullptr;
        DWORD owner = 0;
        do {
            window = FindWindowExW(nullptr, window, class_name, nullptr);
        } while (window != nullptr && GetWindowThreadProcessId(window, &owner) && owner != process);
        return window;
    });
}

// Told to quit however the check ends: left running, it would hold the test runner's pipe.
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

void check_look_alikes(bool shell_window) {
    SCOPED_TRACE(shell_window ? "with a shell window" : "without: the first found is taken");
    StandInDesktop ground;
    const Windows shells = create_shells_windows(ground, shell_window);
    const NamedEvent ready = create_named_event();
    NamedEvent quit = create_named_event();
    const Arguments arguments{
        L"--ready", ready.name, L"--quit", quit.name,        L"--secondary-taskbars",
        L"1",       L"--icons", L"dialog", L"--icons-hidden"};
    const LookAlikeProcess other{std::move(quit),
                                 start_process(sibling_executable(L"stand-in-shell.exe"), arguments,
                                               {.desktop = ground.desktop.name})};
    ASSERT_EQ(WaitForSingleObject(ready.handle.get(), generous_wait), WAIT_OBJECT_0);
    const DWORD id = other.process.id;
    const auto dialog_view = find_child_window_by_class(
        window_of(ground, id, L"WatchdogFileDialog"), "SHELLDLL_DefView");
    const Windows look_alikes{
        window_of(ground, id, L"Shell_TrayWnd"), window_of(ground, id, L"Shell_SecondaryTrayWnd"),
        find_child_window_by_class(dialog_view.value_or(nullptr), "SysListView32")
            .value_or(nullptr)};
    ASSERT_NE(look_alikes.list_view, nullptr);
    const auto record = [](HWND window) {
        return TaskbarWindowRecoveryState{.hwnd = window_handle_value(window),
                                          .ex_style = static_cast<std::int32_t>(recorded_style)};
    };
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 2, .windows = {record(shells.primary), record(shells.secondary)}};

    const auto taskbar = on_desktop(ground, [&] {
        BoundedWorker worker;
        return restore_taskbar(snapshot, worker);
    });
    const auto icons = on_desktop(ground, [&] { return restore_desktop_icons(true); });

    EXPECT_TRUE(taskbar.has_value()) << taskbar.error();
    EXPECT_TRUE(icons.has_value()) << icons.error();
    const DWORD untouched = WS_EX_TOOLWINDOW;
    EXPECT_EQ(ex_style_of(shells.primary), shell_window ? recorded_style : untouched);
    EXPECT_EQ(ex_style_of(shells.secondary), recorded_style);
    EXPECT_EQ(ex_style_of(look_alikes.primary), shell_window ? untouched : recorded_style);
    // Unguarded, the look-alike secondary, above the shell's own, takes record 1 by position.
    EXPECT_EQ(ex_style_of(look_alikes.secondary), shell_window ? untouched : recorded_style);
    EXPECT_EQ(has_visible_style(shells.list_view), shell_window);
    EXPECT_EQ(has_visible_style(look_alikes.list_view), !shell_window);
}

TEST(ShellWindows, TheShellsOwnTaskbarAndIconsAreTakenOverAnotherProcesssLookAlikes) {
    for (const bool shell_window : {true, false}) {
        check_look_alikes(shell_window);
    }
}

} // namespace
} // namespace watchdog::testing
