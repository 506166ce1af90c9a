// A stand-in for the main application that the watchdog protects. It does what a real one
// does: records the taskbars' and the desktop icons' state in a recovery marker, breaks them,
// starts the watchdog in bootstrap mode, and ends the way it is told.
//
//   stand-in-main sleep <milliseconds>
//   stand-in-main break-desktop --watchdog <exe> --marker <path> --session <id>
//                 [--array-form] [--proceed <event>] [--end exit|abort|access-violation|wait]
//                 [--marker-session <id>] [--marker-version <n>] [--launcher-report <file>]
//
// With --proceed it waits (at most a minute) for the named event after starting the watchdog,
// so that a test can take hold of the watcher before the main application goes away.

#include "marker_writer.h"
#include "processes.h"
#include "shell_lookup.h"
#include "test_files.h"
#include "win/window_handle.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr DWORD broken_style_bits = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOACTIVATE;

struct Options {
    std::wstring watchdog;
    std::wstring marker;
    std::wstring session;
    std::wstring proceed_event;
    std::wstring launcher_report;
    std::wstring end = L"exit";
    bool array_form = false;
    // What the marker says, when a test wants it to disagree with the command line.
    std::optional<std::wstring> marker_session;
    std::uint32_t marker_version = 1;
};

struct TaskbarState {
    HWND window = nullptr;
    LONG ex_style = 0;
    COLORREF color = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    bool had_layered = false;
};

std::optional<Options> parse_options(int argc, wchar_t** argv) {
    Options options;
    for (int i = 2; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--array-form") {
            options.array_form = true;
            continue;
        }
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::wstring value = argv[++i];
        if (name == L"--watchdog") {
            options.watchdog = value;
        } else if (name == L"--marker") {
            options.marker = value;
        } else if (name == L"--session") {
            options.session = value;
        } else if (name == L"--proceed") {
            options.proceed_event = value;
        } else if (name == L"--launcher-report") {
            options.launcher_report = value;
        } else if (name == L"--end") {
            options.end = value;
        } else if (name == L"--marker-session") {
            options.marker_session = value;
        } else if (name == L"--marker-version") {
            options.marker_version =
                static_cast<std::uint32_t>(std::wcstoul(value.c_str(), nullptr, 10));
        } else {
            return std::nullopt;
        }
    }
    if (options.watchdog.empty() || options.marker.empty()) {
        return std::nullopt;
    }
    return options;
}

std::vector<TaskbarState> read_taskbars() {
    std::vector<TaskbarState> states;
    for (HWND window : watchdog::testing::find_shell_taskbars()) {
        TaskbarState state;
        state.window = window;
        state.ex_style = GetWindowLongW(window, GWL_EXSTYLE);
        state.had_layered =
            GetLayeredWindowAttributes(window, &state.color, &state.alpha, &state.flags) != FALSE;
        states.push_back(state);
    }
    return states;
}

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

watchdog::RecoveryMarker recorded_marker(const Options& options,
                                         const std::vector<TaskbarState>& taskbars, HWND icons) {
    watchdog::RecoveryMarker marker;
    marker.version = options.marker_version;
    marker.sessionId = utf8(options.marker_session.value_or(options.session));
    if (icons != nullptr) {
        marker.desktopIcons = watchdog::DesktopIconRecovery{IsWindowVisible(icons) != FALSE};
    }
    if (!taskbars.empty()) {
        // The app-bar state is recorded as "always on top", the shell's usual setting.
        watchdog::TaskbarRecoverySnapshot snapshot{.appbar_state = 2, .windows = {}};
        for (const auto& state : taskbars) {
            snapshot.windows.push_back({.hwnd = watchdog::window_handle_value(state.window),
                                        .ex_style = state.ex_style,
                                        .layered_color = state.color,
                                        .layered_alpha = state.alpha,
                                        .layered_flags = state.flags,
                                        .had_layered_attributes = state.had_layered});
        }
        marker.taskbar = std::move(snapshot);
    }
    return marker;
}

std::string marker_json(const Options& options, const std::vector<TaskbarState>& taskbars,
                        HWND icons) {
    const watchdog::RecoveryMarker marker = recorded_marker(options, taskbars, icons);
    return (options.array_form ? watchdog::write_array_form(marker)
                               : watchdog::write_object_form(marker)) +
           "\n";
}

// Written beside the marker and moved over it, so that no reader sees half a marker.
bool write_marker(const std::wstring& path, const std::string& content) {
    const std::wstring temporary = path + L".tmp";
    watchdog::UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                              &written, nullptr) &&
                    written == content.size();
    file.reset();
    return ok && MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void break_desktop(const std::vector<TaskbarState>& taskbars, HWND icons) {
    for (const auto& state : taskbars) {
        SetWindowLongW(state.window, GWL_EXSTYLE,
                       static_cast<LONG>(static_cast<DWORD>(state.ex_style) | broken_style_bits));
        SetLayeredWindowAttributes(state.window, 0, 0, LWA_ALPHA);
    }
    if (icons != nullptr) {
        ShowWindow(icons, SW_HIDE);
    }
}

// Starts the watchdog as the main application does and waits for the launcher. With
// --launcher-report the launcher's id and exit code are written to that file, so that a test
// can find the watcher (the launcher's child) although the launcher itself is long gone.
DWORD start_watchdog(const Options& options) {
    const std::vector<std::wstring> arguments{
        L"--bootstrap", std::to_wstring(GetCurrentProcessId()), options.session, options.marker};
    try {
        const auto launcher = watchdog::testing::start_process(options.watchdog, arguments);
        const DWORD code = watchdog::testing::wait_for_exit(launcher, 30000).value_or(0xFFFFFFFF);
        if (!options.launcher_report.empty()) {
            watchdog::testing::write_file(options.launcher_report,
                                          std::to_string(launcher.id) + " " + std::to_string(code));
        }
        return code;
    } catch (const std::exception&) {
        return 0xFFFFFFFF;
    }
}

void wait_for_permission_to_end(const std::wstring& event_name) {
    if (event_name.empty()) {
        return;
    }
    if (const watchdog::UniqueHandle proceed(OpenEventW(SYNCHRONIZE, FALSE, event_name.c_str()));
        proceed) {
        WaitForSingleObject(proceed.get(), 60000);
    }
}

LONG WINAPI end_without_report(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void end_as_told(const std::wstring& how) {
    if (how == L"abort") {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        std::abort();
    }
    if (how == L"access-violation") {
        // No crash dialog or debugger: the process simply dies of the fault.
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        SetUnhandledExceptionFilter(end_without_report);
        *static_cast<volatile int*>(nullptr) = 1;
    }
    if (how == L"wait") {
        Sleep(INFINITE);
    }
    std::exit(0);
}

int break_desktop_and_end(const Options& options) {
    const std::vector<TaskbarState> taskbars = read_taskbars();
    HWND icons = watchdog::testing::find_shell_icon_view();
    if (!write_marker(options.marker, marker_json(options, taskbars, icons))) {
        return 3;
    }
    break_desktop(taskbars, icons);
    if (start_watchdog(options) != 0) {
        return 4;
    }
    wait_for_permission_to_end(options.proceed_event);
    end_as_told(options.end);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"break-desktop") == 0) {
        if (const auto options = parse_options(argc, argv)) {
            return break_desktop_and_end(*options);
        }
    }
    return 64;
}
