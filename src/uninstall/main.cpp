// The uninstaller's part: puts back the desktop that a crashed run of the application left
// broken, settling its recovery marker exactly as the application's next start would (or, with
// --discard, discards it). A program, because installers run programs, and NSIS and Inno Setup
// build 32-bit uninstallers by default, which cannot load the 64-bit client DLL. No console, no
// window, nothing printed: the exit code is its report, and the log beside the marker says why.
//
//   system-state-watchdog-uninstall.exe <marker path>
//   system-state-watchdog-uninstall.exe --discard <marker path>

#include <system_state_watchdog/client.hpp>

#include "win/command_line.h"
#include "win/held_folder.h"

#include <windows.h>

namespace {

namespace client = watchdog::client;

enum class UninstallExit : int {
    restored = 0,
    discarded = 1,
    usage_error = 2,
    no_marker = 3,
    left_to_live_run = 4, // the application, or its watcher, still holds the marker
    kept = 5,             // it cannot be settled or discarded; the log beside it says why
};

// The library's outcome as the exit code; `done` for the call that did what was asked.
UninstallExit exit_for(const std::expected<void, client::Error>& outcome, UninstallExit done) {
    if (outcome) {
        return done;
    }
    switch (outcome.error().code) {
    case client::Code::no_marker:
        return UninstallExit::no_marker;
    case client::Code::left_to_live_run:
        return UninstallExit::left_to_live_run;
    default:
        return UninstallExit::kept;
    }
}

UninstallExit run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() == 2 && !arguments[1].empty() && !arguments[1].starts_with(L"--")) {
        return exit_for(client::settle_leftover_marker(arguments[1]), UninstallExit::restored);
    }
    if (arguments.size() == 3 && arguments[1] == L"--discard" && !arguments[2].empty()) {
        return exit_for(client::discard_leftover_marker(arguments[2]), UninstallExit::discarded);
    }
    return UninstallExit::usage_error;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // A marker on a drive that has gone must not make the system ask the user for it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // An uninstaller runs elevated, on the user's folders: Windows refuses the user's junctions.
    watchdog::refuse_untrusted_junctions();
    // An escaping exception would reach abort(), whose exit code 3 installers read as "no marker".
    try {
        return static_cast<int>(run(watchdog::split_command_line(GetCommandLineW())));
    } catch (...) {
        return static_cast<int>(UninstallExit::kept);
    }
}
