#pragma once

#include "protocol/launcher_protocol.h"

#include <string_view>

namespace watchdog {

// Splits the process command line and runs the mode that its first argument names.
int run_command_line();

// The same for a given command line (argument 0 is the program path).
ExitCode dispatch_command_line(std::wstring_view command_line);

} // namespace watchdog
