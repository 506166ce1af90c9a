#pragma once

#include "main/mode_arguments.h"
#include "protocol/launcher_protocol.h"

namespace watchdog {

// Starts a detached copy of this executable in watch mode with the same three arguments and
// returns at once, without waiting for it.
ExitCode run_bootstrap(ModeArguments arguments);

// Runs the launcher's work; an exception that escapes it ends the launcher with SpawnFailed
// (the main application then knows that no watcher protects it) instead of reaching abort(),
// which shows a runtime error box and ends the process with 3.
template <typename Work> ExitCode run_bootstrap_guarded(Work work) noexcept {
    try {
        return work();
    } catch (...) {
        return ExitCode::SpawnFailed;
    }
}

} // namespace watchdog
