#include "main/dispatch.h"

#include "main/bootstrap.h"
#include "main/watch.h"
#include "win/command_line.h"

#include <windows.h>

namespace watchdog {

ExitCode dispatch_command_line(std::wstring_view command_line) {
    std::vector<std::wstring> arguments = split_command_line(command_line);
    if (arguments.size() < 2) {
        return ExitCode::UsageError;
    }
    const std::wstring mode = arguments[1];
    ModeArguments mode_arguments(std::make_move_iterator(arguments.begin() + 2),
                                 std::make_move_iterator(arguments.end()));
    if (mode == L"--bootstrap") {
        return run_bootstrap(std::move(mode_arguments));
    }
    if (mode == L"--watch") {
        return run_watch(std::move(mode_arguments));
    }
    return ExitCode::UsageError;
}

int run_command_line() {
    return static_cast<int>(dispatch_command_line(GetCommandLineW()));
}

} // namespace watchdog
