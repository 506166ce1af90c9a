#pragma once

// The one set-up behind every test that puts stand-in shell windows on a desktop of its own: a
// private desktop, a thread on it that owns the windows and pumps their messages, and the logs
// those windows record into.

#include "desktop_windows.h"
#include "shell_desktop.h"
#include "taskbar_windows.h"

#include <optional>
#include <type_traits>
#include <utility>

namespace watchdog::testing {

struct StandInDesktop {
    // Declared before the thread, so that they outlive every window that records into them.
    ShellEventLog taskbar_log;
    DesktopIconShell icons;
    PrivateDesktop desktop;
    // Owns the stand-in windows. It also keeps the desktop open: Wine closes a desktop handle
    // when the last thread of the process on that desktop ends.
    ShellThread shell;

    StandInDesktop();
    StandInDesktop(const StandInDesktop&) = delete;
    StandInDesktop& operator=(const StandInDesktop&) = delete;
    // Destroys the windows on their own thread, before the logs go away.
    ~StandInDesktop();
};

// Runs `work` on the shell thread, which owns the stand-in windows, and returns its result.
template <typename Work> auto on_shell(const StandInDesktop& ground, Work work) {
    if constexpr (std::is_void_v<decltype(work())>) {
        invoke(ground.shell, work);
    } else {
        std::optional<decltype(work())> result;
        invoke(ground.shell, [&] { result.emplace(work()); });
        return std::move(*result);
    }
}

// Runs `work` on a new thread of the private desktop, where the product's window searches see
// the stand-in shell, and returns its result.
template <typename Work> auto on_desktop(const StandInDesktop& ground, Work work) {
    if constexpr (std::is_void_v<decltype(work())>) {
        run_on_desktop(ground.desktop, work);
    } else {
        std::optional<decltype(work())> result;
        run_on_desktop(ground.desktop, [&] { result.emplace(work()); });
        return std::move(*result);
    }
}

} // namespace watchdog::testing
