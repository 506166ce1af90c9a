// The stand-in shell as a program of its own, for end-to-end tests and the demo: started on a
// private desktop, it creates the shell's windows there, says when they are ready and pumps
// their messages until it is told to quit.
//
//   stand-in-shell --ready <event> --quit <event> [--secondary-taskbars N] [--no-taskbar]
//                  [--icons progman|worker|none] [--icons-hidden]
//                  [--toggle toggle|ignore|hang|recreate] [--report <file>]
//
// With --report it writes, when it quits, one line per toggle command it received, so that a
// test can count the menu commands that reached the shell.

#include "desktop_windows.h"
#include "taskbar_windows.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

using namespace watchdog::testing;

namespace {

struct ShellOptions {
    std::wstring ready_event;
    std::wstring quit_event;
    std::wstring report;
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
    return !options.ready_event.empty() && !options.quit_event.empty();
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
                             : create_program_manager_icons(icons, options.icons_visible);
    if (!created) {
        startup_failure = created.error();
    }
    return created.has_value();
}

void pump_until(HANDLE quit) {
    while (true) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) {
            return;
        }
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
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
    if (!parse_options(argc, argv, options)) {
        return 2;
    }
    const watchdog::UniqueHandle ready(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, options.ready_event.c_str()));
    const watchdog::UniqueHandle quit(OpenEventW(SYNCHRONIZE, FALSE, options.quit_event.c_str()));
    if (!ready || !quit) {
        return 3;
    }
    ShellEventLog log;
    DesktopIconShell icons;
    if (!create_taskbars(log, options) || !create_icons(icons, options)) {
        write_report(options.report, icons);
        return 4;
    }
    SetEvent(ready.get());
    pump_until(quit.get());
    write_report(options.report, icons);
    return 0;
}
