#pragma once

// The watchdog's command line and exit codes, stated here alone for both sides: the client library
// that starts the launcher for the main application, and the executable that runs it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::wstring_view bootstrap_switch = L"--bootstrap";
inline constexpr std::wstring_view watch_switch = L"--watch";

// Each mode takes exactly these three: the main process id, the session id, the marker path.
inline constexpr std::size_t mode_argument_count = 3;

// The arguments after the mode switch, as the system gave them (UTF-16, possibly malformed).
using ModeArguments = std::vector<std::wstring>;

// The process exit code is one of the program's two reports (the other is the recovery log).
enum class ExitCode : int {
    Success = 0,
    UsageError = 2,
    ExecutablePathUnavailable = 3,
    SpawnFailed = 4,
    ExitUnconfirmed = 5,
    RestoreFailed = 6,
};

} // namespace watchdog
