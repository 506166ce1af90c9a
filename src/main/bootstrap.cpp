#include "main/bootstrap.h"

#include "win/command_line.h"
#include "win/module_path.h"
#include "win/null_device.h"
#include "win/path.h"
#include "win/process_start.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <expected>
#include <vector>

namespace watchdog {
namespace {

constexpr DWORD watcher_creation_flags =
    DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;

std::expected<void, Win32Failure> spawn_watcher(const std::wstring& executable,
                                                const std::wstring& command_line) {
    // The watcher's streams are all on the null device (output and error share one): it must
    // never hold the launcher's own, which may be pipes that somebody waits to see closed.
    const auto input = open_inheritable_null_device(GENERIC_READ);
    if (!input) {
        return std::unexpected(input.error());
    }
    const auto output = open_inheritable_null_device(GENERIC_WRITE);
    if (!output) {
        return std::unexpected(output.error());
    }
    // Only the null-device handles are inherited: any other inheritable handle of the launcher (a
    // pipe from its starter, say) stays out of the watcher, which may outlive the application by
    // hours. The watcher shows no window, so Windows must not show the busy cursor for it either.
    ProcessStart start{
        .executable = executable,
        .command_line = command_line,
        .creation_flags = watcher_creation_flags | CREATE_BREAKAWAY_FROM_JOB,
        .startup_flags = STARTF_FORCEOFFFEEDBACK,
        .streams = StandardStreams{input->get(), output->get(), output->get()},
        // The watcher may wait for hours: it must not hold the application's folder open.
        .folder = system_folder().value_or(L""),
    };
    // The main application often runs in a job that kills its members when it closes (as do the
    // launchers, IDEs and terminals that start it): the watcher leaves it, or would die with the
    // application. A job that forbids leaving denies the creation; the watcher then stays in it.
    auto started = start_process(start);
    if (!started && started.error().code == ERROR_ACCESS_DENIED) {
        start.creation_flags = watcher_creation_flags;
        started = start_process(start);
    }
    // The launcher never waits for the watcher: its handles close as `started` goes.
    if (!started) {
        return std::unexpected(started.error());
    }
    return {};
}

} // namespace

ExitCode start_watcher(const ModeArguments& arguments, OwnPath own_path, SpawnWatcher spawn) {
    const auto executable = own_path();
    if (!executable) {
        return ExitCode::ExecutablePathUnavailable;
    }
    // "--watch" followed by the three mode arguments in order, the marker path made full: the
    // watcher works in another folder, where a relative path would name another file.
    std::vector<std::wstring> watch_arguments{std::wstring(watch_switch)};
    watch_arguments.insert(watch_arguments.end(), arguments.begin(), arguments.end());
    watch_arguments.back() = full_path(watch_arguments.back()).value_or(watch_arguments.back());
    const std::wstring command_line = build_command_line(*executable, watch_arguments);
    return spawn(*executable, command_line).has_value() ? ExitCode::Success : ExitCode::SpawnFailed;
}

ExitCode run_bootstrap(ModeArguments arguments) {
    if (arguments.size() != mode_argument_count) {
        return ExitCode::UsageError;
    }
    return run_bootstrap_catching(
        [&] { return start_watcher(arguments, current_executable_path, spawn_watcher); });
}

} // namespace watchdog
