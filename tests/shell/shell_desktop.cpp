#include "shell_desktop.h"

#include "win/null_device.h"

#include <atomic>
#include <memory>
#include <stdexcept>

// Exported by user32 but declared by no header.
extern "C" BOOL WINAPI SetShellWindow(HWND window);

namespace watchdog::testing {
namespace {

constexpr UINT invoke_message = WM_APP + 0x100;
constexpr UINT post_message = WM_APP + 0x101;

struct Invocation {
    const std::function<void()>* work;
    std::promise<void> done;
};

void attach_to(const PrivateDesktop& desktop) {
    if (!SetThreadDesktop(desktop.handle.get())) {
        throw std::runtime_error("SetThreadDesktop failed: " + std::to_string(GetLastError()));
    }
}

void run_message_loop(std::promise<DWORD>& started) {
    MSG message{};
    // Creates the thread's message queue before anyone posts to it.
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    started.set_value(GetCurrentThreadId());
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == invoke_message) {
            auto* invocation = reinterpret_cast<Invocation*>(message.lParam);
            try {
                (*invocation->work)();
                invocation->done.set_value();
            } catch (...) {
                invocation->done.set_exception(std::current_exception());
            }
            continue;
        }
        if (message.hwnd == nullptr && message.message == post_message) {
            const std::unique_ptr<std::function<void()>> work(
                reinterpret_cast<std::function<void()>*>(message.lParam));
            (*work)();
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Wine starts a helper process for a desktop the first time a thread uses it, and the helper
// takes the standard handles of whichever process touched the desktop. When those are a test
// runner's pipes, the runner waits for the helper long after the test has ended. So the desktop
// is touched here first, with the standard handles on the null device. (Elsewhere this only
// asks for the desktop window.) The thread uses a handle of its own: Wine closes a thread's
// desktop handle when the thread ends.
void start_desktop_quietly(const std::wstring& name) {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE saved[3] = {};
    const UniqueHandle nulls[3] = {
        open_inheritable_null_device(GENERIC_READ).value_or(UniqueHandle()),
        open_inheritable_null_device(GENERIC_WRITE).value_or(UniqueHandle()),
        open_inheritable_null_device(GENERIC_WRITE).value_or(UniqueHandle())};
    for (int i = 0; i < 3; ++i) {
        saved[i] = GetStdHandle(kinds[i]);
        SetStdHandle(kinds[i], nulls[i].get());
    }
    std::thread toucher([&name] {
        UniqueDesktop own(OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL));
        if (own && SetThreadDesktop(own.get())) {
            // A desktop in use by a thread cannot be closed; Wine closes it when the thread ends.
            static_cast<void>(own.release());
            GetDesktopWindow();
        }
    });
    toucher.join();
    for (int i = 0; i < 3; ++i) {
        SetStdHandle(kinds[i], saved[i]);
    }
}

} // namespace

PrivateDesktop& create_private_desktop(PrivateDesktop& desktop) {
    static std::atomic<unsigned> counter{0};
    // Process ids repeat between runs (and are small under Wine), and a desktop lives on while
    // any process still uses it: the time keeps names of earlier runs from being reused.
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    desktop.name = L"watchdog-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(counter++);
    desktop.handle.reset(
        CreateDesktopW(desktop.name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr));
    if (!desktop.handle) {
        throw std::runtime_error("CreateDesktopW failed: " + std::to_string(GetLastError()));
    }
    start_desktop_quietly(desktop.name);
    return desktop;
}

void run_on_desktop(const PrivateDesktop& desktop, const std::function<void()>& work) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            attach_to(desktop);
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

ShellThread::~ShellThread() {
    stop_shell_thread(*this);
}

void start_shell_thread(ShellThread& shell, const PrivateDesktop& desktop) {
    std::promise<DWORD> started;
    auto started_id = started.get_future();
    shell.thread = std::thread([&desktop, &started] {
        try {
            attach_to(desktop);
        } catch (...) {
            started.set_exception(std::current_exception());
            return;
        }
        run_message_loop(started);
    });
    shell.thread_id = started_id.get();
}

void invoke(const ShellThread& shell, const std::function<void()>& work) {
    Invocation invocation{&work, {}};
    auto done = invocation.done.get_future();
    if (!PostThreadMessageW(shell.thread_id, invoke_message, 0,
                            reinterpret_cast<LPARAM>(&invocation))) {
        throw std::runtime_error("PostThreadMessageW failed: " + std::to_string(GetLastError()));
    }
    done.get();
}

ShellThreadHold hold_shell_thread(const ShellThread& shell) {
    ShellThreadHold hold;
    hold.release.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE release = hold.release.get();
    HANDLE stopped_event = stopped.get();
    auto work = std::make_unique<std::function<void()>>([release, stopped_event] {
        SetEvent(stopped_event);
        WaitForSingleObject(release, INFINITE);
    });
    if (!PostThreadMessageW(shell.thread_id, post_message, 0,
                            reinterpret_cast<LPARAM>(work.get()))) {
        throw std::runtime_error("PostThreadMessageW failed: " + std::to_string(GetLastError()));
    }
    static_cast<void>(work.release()); // the thread deletes it once it has run
    WaitForSingleObject(stopped_event, INFINITE);
    return hold;
}

void stop_shell_thread(ShellThread& shell) {
    if (shell.thread.joinable()) {
        PostThreadMessageW(shell.thread_id, WM_QUIT, 0, 0);
        shell.thread.join();
    }
}

bool make_shell_window(HWND window) {
    return SetShellWindow(window) != FALSE;
}

} // namespace watchdog::testing
