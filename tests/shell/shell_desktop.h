#pragma once

// The ground under every window-level test: a private desktop that no other test sees, and a
// thread on it that owns the stand-in shell's windows and pumps their messages, the way the
// real shell's threads do in its own process.

#include "win/unique_resource.h"

#include <windows.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

namespace watchdog::testing {

struct DesktopTraits {
    using Value = HDESK;
    static Value none() noexcept { return nullptr; }
    static bool is_none(Value value) noexcept { return value == nullptr; }
    static void close(Value value) noexcept { CloseDesktop(value); }
};
using UniqueDesktop = UniqueResource<DesktopTraits>;

struct PrivateDesktop {
    UniqueDesktop handle;
    std::wstring name;
};

// A desktop with a name unique to this process and call.
PrivateDesktop& create_private_desktop(PrivateDesktop& desktop);

// Runs `work` on a new thread attached to the desktop and waits for it. The product's window
// searches only see the windows of the calling thread's desktop, so this is how a test calls
// the product against its own stand-in shell. Keep a ShellThread on the desktop meanwhile:
// Wine closes the desktop handle when the last thread of the process on it ends.
void run_on_desktop(const PrivateDesktop& desktop, const std::function<void()>& work);

// A thread on the desktop with a message loop; what `invoke` hands it runs between messages.
struct ShellThread {
    std::thread thread;
    DWORD thread_id = 0;

    ShellThread() = default;
    ShellThread(const ShellThread&) = delete;
    ShellThread& operator=(const ShellThread&) = delete;
    ~ShellThread();
};

void start_shell_thread(ShellThread& shell, const PrivateDesktop& desktop);

// Runs `work` on the shell thread and waits for it to finish.
void invoke(const ShellThread& shell, const std::function<void()>& work);

// Stops the message loop (destroying nothing by itself) and joins the thread.
void stop_shell_thread(ShellThread& shell);

// A shell thread that has stopped pumping messages, the way the thread of a hung shell does:
// every call that waits for it waits until the hold is released (at the latest when the hold
// goes away). Not a stall that ends by itself: nothing of the thread runs meanwhile.
struct ShellThreadHold {
    UniqueHandle release;

    ShellThreadHold() = default;
    ShellThreadHold(ShellThreadHold&&) = default;
    ShellThreadHold& operator=(ShellThreadHold&&) = default;
    ~ShellThreadHold() { release_hold(*this); }

    friend void release_hold(ShellThreadHold& hold) {
        if (hold.release) {
            SetEvent(hold.release.get());
        }
    }
};

// Returns once the thread has stopped.
ShellThreadHold hold_shell_thread(const ShellThread& shell);

// Makes `window` the shell window of its desktop (SetShellWindow), as the real shell does with
// its program-manager window. Wine 8 keeps one shell window for every desktop: a test that
// calls this must run alone.
bool make_shell_window(HWND window);

} // namespace watchdog::testing
