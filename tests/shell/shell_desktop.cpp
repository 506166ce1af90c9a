#include "shell_desktop.h"

#include <atomic>
#include <stdexcept>

namespace watchdog::testing {
namespace {

constexpr UINT invoke_message = WM_APP + 0x100;

struct Invocation {
    const std::function<void()>* work;
    std::promise<void> done;
};

void attach_to(const PrivateDesktop& desktop) {
    if (!SetThreadDesktop(desktop.handle)) {
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
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

PrivateDesktop::~PrivateDesktop() {
    if (handle != nullptr) {
        CloseDesktop(handle);
    }
}

PrivateDesktop& create_private_desktop(PrivateDesktop& desktop) {
    static std::atomic<unsigned> counter{0};
    // Process ids repeat between runs (and are small under Wine), and a desktop lives on while
    // any process still uses it: the time keeps names of earlier runs from being reused.
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    desktop.name = L"watchdog-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(counter++);
    desktop.handle =
        CreateDesktopW(desktop.name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop.handle == nullptr) {
        throw std::runtime_error("CreateDesktopW failed: " + std::to_string(GetLastError()));
    }
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

void stop_shell_thread(ShellThread& shell) {
    if (shell.thread.joinable()) {
        PostThreadMessageW(shell.thread_id, WM_QUIT, 0, 0);
        shell.thread.join();
    }
}

} // namespace watchdog::testing
