#pragma once

namespace watchdog {

// Splits the process command line and runs the mode that its first argument names (argument 0
// is the program path).
int run_command_line();

} // namespace watchdog
