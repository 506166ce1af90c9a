#pragma once

#include "protocol/launcher_protocol.h"
#include "win/win32_failure.h"

#include <expected>
#include <string>

namespace watchdog {

// Starts this executable detached in watch mode with the same three arguments, without waiting.
ExitCode run_bootstrap(ModeArguments arguments);

using OwnPath = std::expected<std::wstring, Win32Failure> (*)();
using SpawnWatcher = std::expected<void, Win32Failure> (*)(const std::wstring& executable,
                                                           const std::wstring& command_line);

// The launcher's work, given its two steps that ask the system: reading its own path and
// creating the watcher with the command line made from it. The exit code says which failed.
ExitCode start_watcher(const ModeArguments& arguments, OwnPath own_path, SpawnWatcher spawn);

// Runs the launcher's work; an exception that escapes it ends the launcher with SpawnFailed (no
// watcher protects the application), not in abort() with an error box and a misleading exit 3.
template <typename Work> ExitCode run_bootstrap_catching(Work work) noexcept {
    try {
        return work();
    } catch (...) {
        return ExitCode::SpawnFailed;
    }
}

} // namespace watchdog
