#include "main/bootstrap.h"
#include "main/watch.h"
#include "protocol/launcher_protocol.h"
#include "win/command_line.h"
#include "win/held_folder.h"

#include <windows.h>

// A GUI-subsystem entry point, so that Windows never gives the watchdog a console. It runs the mode
// that the first argument names (argument 0 is the program path).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // A marker on a drive that has gone must not make the system ask the user for it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // An elevated watchdog acts on its user's folders: Windows itself then refuses the junctions
    // the user made, on top of the watchdog's own judgement of every link on the way.
    watchdog::refuse_untrusted_junctions();
    // Each mode keeps its own exceptions; only splitting the command line is left here, and a
    // launcher that ends there has started no watcher.
    return static_cast<int>(watchdog::run_bootstrap_catching([] {
        std::vector<std::wstring> arguments = watchdog::split_command_line(GetCommandLineW());
        if (arguments.size() < 2) {
            return watchdog::ExitCode::UsageError;
        }
        const std::wstring mode = arguments[1];
        watchdog::ModeArguments mode_arguments(std::make_move_iterator(arguments.begin() + 2),
                                               std::make_move_iterator(arguments.end()));
        if (mode == watchdog::bootstrap_switch) {
            return watchdog::run_bootstrap(std::move(mode_arguments));
        }
        if (mode == watchdog::watch_switch) {
            return watchdog::run_watch(std::move(mode_arguments));
        }
        return watchdog::ExitCode::UsageError;
    }));
}
