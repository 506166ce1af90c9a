#pragma once

#include "main/exit_code.h"
#include "main/mode_arguments.h"

#include <expected>
#include <string>

namespace watchdog {

// Starts a detached copy of this executable in watch mode with the same three arguments and
// returns at once, without waiting for it.
ExitCode run_bootstrap(ModeArguments arguments);

// The full path of the running executable, however long it is.
std::expected<std::wstring, std::string> current_executable_path();

} // namespace watchdog
