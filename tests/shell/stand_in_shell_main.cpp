// The stand-in shell as a program of its own, for end-to-end tests, the demo and an integrator
// trying an application under Wine: started on a private desktop (or Wine's default one), it
// creates the shell's windows there, says when they are ready and pumps their messages until it
// is told to quit. `stand-in-shell --help` prints the usage below.
//
// With --hang-on it also creates one more secondary taskbar, on a thread of its own, which stops
// pumping messages for good (until the shell quits) once the event is set, the way a hung
// shell's thread does, and then sets the --hung-signal event.
//
// With --icons dialog its icon view lies under a top-level window of another class, the way an
// old-style file dialog holds a shell view and a list view: a look-alike of the desktop's.
//
// With --report it writes, when it quits, one line per toggle command it received, so that a
// test can count the menu commands that reached the shell.

#include "desktop_windows.h"
#include "taskbar_windows.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <future>
#include <string>
#include <string_view>
#include <thread>

using namespace watchdog::testing;

namespace {

constexpr std::string_view usage =
    "usage: stand-in-shell [--ready <event>] [--quit <event>] [--secondary-taskbars N]\n"
    "                      [--no-taskbar] [--icons progman|worker|dialog|none] [--icons-hidden]\n"
    "                      [--toggle toggle|ignore|hang|recreate] [--report <file>]\n"
    "                      [--hang-on <event> --hung-signal <event>]\n"
    "Creates a primary taskbar (Shell_TrayWnd), N secondary ones (Shell_SecondaryTrayWnd) and\n"
    "desktop icons (a SysListView32 under Progman, or under WorkerW), and pumps their messages.\n"
    "--ready: a named event it sets once the windows are there. --quit: a named event that ends\n"
    "it; without one it runs until it is ended. --toggle: what the icons' show/hide menu command\n"
    "does. --report: one line per menu command received, written when it quits.\n";

struct ShellOptions {
    std::wstring ready_event;
    std::wstring quit_event;
    std::wstring report;
    std::wstring hang_event;
    std::wstring hung_signal;
    int secondary_taskbars = 0;
    bool taskbar = true;
    std::wstring icons = L"progman";
    bool icons_visible = true;
    ToggleBehaviour toggle = ToggleBehaviour::toggle;
};

bool parse_toggle(const std::wstring& text, ToggleBehaviour& behaviour) {
    if (text == L"toggle") {
        behaviour = ToggleBehaviour::toggle;
    } else if (text == L"ignore") {
        behaviour = ToggleBehaviour::ignore;
    } else if (text == L"hang") {
        behaviour = ToggleBehaviour::hang;
    } else if (text == L"recreate") {
        behaviour = ToggleBehaviour::recreate;
    } else {
        return false;
    }
    return true;
}

bool parse_options(int argc, wchar_t** argv, ShellOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        const bool has_value = i + 1 < argc;
        if (name == L"--no-taskbar") {
            options.taskbar = false;
        } else if (name == L"--icons-hidden") {
            options.icons_visible = false;
        } else if (!has_value) {
            return false;
        } else if (name == L"--ready") {
            options.ready_event = argv[++i];
        } else if (name == L"--quit") {
            options.quit_event = argv[++i];
        } else if (name == L"--report") {
            options.report = argv[++i];
        } else if (name == L"--hang-on") {
            options.hang_event = argv[++i];
        } else if (name == L"--hung-signal") {
            options.hung_signal = argv[++i];
        } else if (name == L"--secondary-taskbars") {
            options.secondary_taskbars = std::stoi(argv[++i]);
        } else if (name == L"--icons") {
            options.icons = argv[++i];
        } else if (name == L"--toggle") {
            if (!parse_toggle(argv[++i], options.toggle)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

void print_usage() {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), usage.data(), static_cast<DWORD>(usage.size()),
              &written, nullptr);
}

// A named event, or, without a name, one that nobody else can set.
watchdog::UniqueHandle event_named(const std::wstring& name, DWORD access) {
    return watchdog::UniqueHandle(name.empty() ? CreateEventW(nullptr, TRUE, FALSE, nullptr)
                                               : OpenEventW(access, FALSE, name.c_str()));
}

// A taskbar as the main application finds it before it changes anything.
TaskbarWindowSetup taskbar_setup(TaskbarKind kind) {
    TaskbarWindowSetup setup;
    setup.kind = kind;
    setup.ex_style = WS_EX_TOOLWINDOW;
    setup.visible = true;
    return setup;
}

std::string startup_failure;

bool succeeded(const std::expected<HWND, std::string>& created) {
    if (!created && startup_failure.empty()) {
        startup_failure = created.error();
    }
    return created.has_value();
}

bool create_taskbars(ShellEventLog& log, const ShellOptions& options) {
    if (!succeeded(create_app_bar_observer(log))) {
        return false;
    }
    if (options.taskbar &&
        !succeeded(create_taskbar_window(log, taskbar_setup(TaskbarKind::primary)))) {
        return false;
    }
    for (int i = 0; i < options.secondary_taskbars; ++i) {
        if (!succeeded(create_taskbar_window(log, taskbar_setup(TaskbarKind::secondary)))) {
            return false;
        }
    }
    return true;
}

bool create_icons(DesktopIconShell& icons, const ShellOptions& options) {
    icons.behaviour = options.toggle;
    if (options.icons == L"none") {
        return true;
    }
    if (const auto registered = register_desktop_window_classes(); !registered) {
        startup_failure = registered.error();
        return false;
    }
    const auto created = options.icons == L"worker"
                             ? create_worker_icons(icons, options.icons_visible)
                         : options.icons == L"dialog"
                             ? create_icon_tree(icons, {.top_level_class = L"WatchdogFileDialog",
                                                        .icons_visible = options.icons_visible})
                             : create_program_manager_icons(icons, options.icons_visible);
    if (!created) {
        startup_failure = created.error();
    }
    return created.has_value();
}

// Pumps messages until one of the events is set.
template <std::size_t count> void pump_until(HANDLE (&events)[count]) {
    while (true) {
        const DWORD woken = MsgWaitForMultipleObjects(static_cast<DWORD>(count), events, FALSE,
                                                      INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + count) {
            return;
        }
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// The taskbar that hangs, on a thread of its own; returns once its window exists (or failed to).
std::thread start_hanging_taskbar(ShellEventLog& log, const ShellOptions& options, HANDLE quit) {
    std::promise<void> created;
    auto ready = created.get_future();
    // A new thread does not start on the desktop that the process was started on.
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    std::thread owner([&log, &options, quit, &created, desktop] {
        SetThreadDesktop(desktop);
        const watchdog::UniqueHandle hang(
            OpenEventW(SYNCHRONIZE, FALSE, options.hang_event.c_str()));
        const watchdog::UniqueHandle hung(
            OpenEventW(EVENT_MODIFY_STATE, FALSE, options.hung_signal.c_str()));
        const bool made =
            succeeded(create_taskbar_window(log, taskbar_setup(TaskbarKind::secondary)));
        created.set_value();
        if (!made || !hang || !hung) {
            return;
        }
        HANDLE hang_or_quit[] = {hang.get(), quit};
        pump_until(hang_or_quit);
        SetEvent(hung.get());
        WaitForSingleObject(quit, INFINITE);
    });
    ready.wait();
    return owner;
}

void write_report(const std::wstring& path, DesktopIconShell& icons) {
    if (path.empty()) {
        return;
    }
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
        return;
    }
    if (!startup_failure.empty()) {
        std::fputs(("startup failure: " + startup_failure + "\n").c_str(), file);
    }
    for (const auto& event : icon_shell_events(icons)) {
        if (event.kind == IconShellEventKind::toggle_command) {
            std::fputs("toggle-command\n", file);
        }
    }
    std::fclose(file);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ShellOptions options;
    if (argc == 2 && std::wcscmp(argv[1], L"--help") == 0) {
        print_usage();
        return 0;
    }
    if (!parse_options(argc, argv, options)) {
        print_usage();
        return 2;
    }
    const watchdog::UniqueHandle ready = event_named(options.ready_event, EVENT_MODIFY_STATE);
    const watchdog::UniqueHandle quit = event_named(options.quit_event, SYNCHRONIZE);
    if (!ready || !quit) {
        return 3;
    }
    ShellEventLog log;
    DesktopIconShell icons;
    if (!create_taskbars(log, options) || !create_icons(icons, options)) {
        write_report(options.report, icons);
        return 4;
    }
    std::thread hanging;
    if (!options.hang_event.empty()) {
        hanging = start_hanging_taskbar(log, options, quit.get());
    }
    SetEvent(ready.get());
    HANDLE quit_only[] = {quit.get()};
    pump_until(quit_only);
    if (hanging.joinable()) {
        hanging.join();
    }
    write_report(options.report, icons);
    return 0;
}
