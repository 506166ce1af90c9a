// A stand-in for the main application that the watchdog protects. It does what a real one
// does, through the client library: records the taskbars' and the desktop icons' state in a
// recovery marker and starts the watchdog; then it breaks them and ends the way it is told.
// `stand-in-main --help` prints the usage below.

#include <system_state_watchdog/client.hpp>

#include "client/marker_file.h"
#include "marker/marker_writer.h"
#include "shell_lookup.h"
#include "test_files.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace client = watchdog::client;

constexpr std::string_view usage =
    "usage: stand-in-main sleep <milliseconds>\n"
    "       stand-in-main break-desktop --watchdog <exe> --marker <path> --session <id>\n"
    "                     [--array-form] [--proceed <event>]\n"
    "                     [--end exit|abort|access-violation|wait] [--marker-session <id>]\n"
    "                     [--marker-version <n>] [--launcher-report <file>] [--cycles <n>]\n"
    "       stand-in-main --bootstrap ...\n"
    "break-desktop records the taskbars and the desktop icons in the marker, starts the\n"
    "watchdog, makes the taskbars transparent and hides the icons, then ends as --end says\n"
    "(access-violation crashes without any crash dialog). With --proceed it first waits (at most\n"
    "a minute) for that named event. With --cycles it first protects and ends the protection\n"
    "that many times, as a host that switches a mode on and off does. --bootstrap stands in for\n"
    "the watchdog's launcher: it ends with the exit code in STAND_IN_LAUNCHER_EXIT_CODE (64\n"
    "without one; \"never\" does not end), and writes the marker path it was given to the file\n"
    "STAND_IN_LAUNCHER_MARKER_REPORT names, if one does, and whether the handle value in\n"
    "STAND_IN_LAUNCHER_HANDLE is open in it to the file STAND_IN_LAUNCHER_HANDLE_REPORT names.\n";

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
    int cycles = 0;
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
        } else if (name == L"--cycles") {
            options.cycles = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
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

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Records the desktop and writes the marker through the client library, as a real main
// application does; a test may make the marker disagree with the command line, or ask for the
// array form, which the watchdog reads as well.
bool record_and_write(const Options& options) {
    auto recorded =
        client::record_desktop(options.marker, client::Items::both, utf8(options.session));
    if (!recorded) {
        return false;
    }
    watchdog::RecoveryMarker& marker = (*recorded)->marker;
    marker.version = options.marker_version;
    if (options.marker_session) {
        marker.sessionId = utf8(*options.marker_session);
    }
    const auto form =
        options.array_form ? watchdog::MarkerForm::array : watchdog::MarkerForm::object;
    return client::write_marker_file(options.marker, watchdog::serialize_marker(marker, form))
        .has_value();
}

void break_desktop() {
    for (HWND window : watchdog::testing::find_shell_taskbars()) {
        const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
        SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(style | broken_style_bits));
        SetLayeredWindowAttributes(window, 0, 0, LWA_ALPHA);
    }
    if (HWND icons = watchdog::testing::find_shell_icon_view()) {
        ShowWindow(icons, SW_HIDE);
    }
}

// With --launcher-report this process's id (0 when no watcher was started), the launcher's exit
// code and the start's error code (0 for none) are written to that file, so that a test knows
// when to look for the watcher, and when the platform failed the start.
void report_launcher(const Options& options, DWORD id, DWORD exit_code, int code = 0) {
    if (!options.launcher_report.empty()) {
        watchdog::testing::write_file(options.launcher_report, std::to_string(id) + " " +
                                                                   std::to_string(exit_code) + " " +
                                                                   std::to_string(code));
    }
}

// With STAND_IN_LAUNCHER_HANDLE (a handle value of the starter's) and
// STAND_IN_LAUNCHER_HANDLE_REPORT (a file), writes whether that handle is open in this process.
void report_inherited_handle() {
    const wchar_t* value = _wgetenv(L"STAND_IN_LAUNCHER_HANDLE");
    const wchar_t* report = _wgetenv(L"STAND_IN_LAUNCHER_HANDLE_REPORT");
    if (value == nullptr || report == nullptr) {
        return;
    }
    const auto handle =
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
    DWORD flags = 0;
    watchdog::testing::write_file(report, GetHandleInformation(handle, &flags) ? "inherited"
                                                                               : "not inherited");
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

// Protections switched on and off, each ended cleanly: none of them may leave anything behind.
bool protect_and_end(const Options& options) {
    for (int cycle = 0; cycle < options.cycles; ++cycle) {
        auto protection =
            client::protect_desktop(options.marker, client::Items::both, options.watchdog);
        if (!protection || !client::end_protection(std::move(*protection))) {
            return false;
        }
    }
    return true;
}

int break_desktop_and_end(const Options& options) {
    if (!protect_and_end(options) || !record_and_write(options)) {
        return 3;
    }
    // Protected first, then changed: the order the client library asks for.
    const auto started =
        client::start_watchdog(options.watchdog, utf8(options.session), options.marker);
    if (!started) {
        report_launcher(options, 0, started.error().launcher_exit_code,
                        static_cast<int>(started.error().code));
        return 4;
    }
    break_desktop();
    report_launcher(options, GetCurrentProcessId(), 0);
    wait_for_permission_to_end(options.proceed_event);
    end_as_told(options.end);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--help") == 0) {
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return 0;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"--bootstrap") == 0) {
        if (const wchar_t* report = _wgetenv(L"STAND_IN_LAUNCHER_MARKER_REPORT");
            argc == 5 && report) {
            watchdog::testing::write_file(report, utf8(argv[4]));
        }
        report_inherited_handle();
        const wchar_t* code = _wgetenv(L"STAND_IN_LAUNCHER_EXIT_CODE");
        if (code != nullptr && std::wcscmp(code, L"never") == 0) {
            Sleep(INFINITE);
        }
        return code != nullptr ? static_cast<int>(std::wcstoul(code, nullptr, 10)) : 64;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"break-desktop") == 0) {
        if (const auto options = parse_options(argc, argv)) {
            return break_desktop_and_end(*options);
        }
    }
    return 64;
}
