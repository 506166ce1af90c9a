#pragma once

namespace watchdog {

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
