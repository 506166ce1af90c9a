#include "main/bootstrap.h"

#include "win/command_line.h"
#include "win/module_path.h"
#include "win/null_device.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

namespace watchdog {
namespace {

constexpr DWORD watcher_creation_flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP |
                                         CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                                         EXTENDED_STARTUPINFO_PRESENT;

// The watcher's three standard handles, all on the null device: it must never hold the
// launcher's own streams, which may be pipes that somebody waits to see closed.
struct NullStreams {
    UniqueHandle input = open_inheritable_null_device(GENERIC_READ);
    UniqueHandle output = open_inheritable_null_device(GENERIC_WRITE);
    UniqueHandle error = open_inheritable_null_device(GENERIC_WRITE);
};

// Inheritance stays on for the null-device handles, but a handle list keeps every other
// inheritable handle of the launcher (a pipe handed down by its starter, say) out of the
// watcher, which may outlive the main application by hours.
UniqueAttributeList inherit_only(std::array<HANDLE, 3>& handles) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto* storage = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(new std::byte[size]);
    if (!InitializeProcThreadAttributeList(storage, 1, 0, &size)) {
        delete[] reinterpret_cast<std::byte*>(storage);
        return {};
    }
    UniqueAttributeList list(storage);
    if (!UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                   sizeof(HANDLE) * handles.size(), nullptr, nullptr)) {
        return {};
    }
    return list;
}

bool spawn_watcher(const std::wstring& executable, std::wstring command_line) {
    NullStreams streams;
    if (!streams.input || !streams.output || !streams.error) {
        return false;
    }
    std::array<HANDLE, 3> inherited{streams.input.get(), streams.output.get(), streams.error.get()};
    const UniqueAttributeList attributes = inherit_only(inherited);
    if (!attributes) {
        return false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    // The watcher never shows a window, so Windows must not show the busy cursor for it.
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK;
    startup.StartupInfo.hStdInput = streams.input.get();
    startup.StartupInfo.hStdOutput = streams.output.get();
    startup.StartupInfo.hStdError = streams.error.get();
    startup.lpAttributeList = attributes.get();
    PROCESS_INFORMATION process{};
    // The main application often runs in a job that kills its members when it closes (so do
    // the launchers, IDEs and terminals that start applications): the watcher leaves that job,
    // or it would die together with the application it is there for. A job that forbids
    // leaving denies the creation; the watcher then stays in it rather than not start at all.
    BOOL created = CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                  watcher_creation_flags | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                                  nullptr, &startup.StartupInfo, &process);
    if (!created && GetLastError() == ERROR_ACCESS_DENIED) {
        created = CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                 watcher_creation_flags, nullptr, nullptr, &startup.StartupInfo,
                                 &process);
    }
    if (!created) {
        return false;
    }
    // The launcher never waits for the watcher: its handles are closed at once.
    const UniqueHandle watcher_process(process.hProcess);
    const UniqueHandle watcher_thread(process.hThread);
    return true;
}

// "--watch" followed by the three mode arguments, unchanged and in order.
std::vector<std::wstring> watcher_arguments(const ModeArguments& mode_arguments) {
    std::vector<std::wstring> arguments{L"--watch"};
    arguments.insert(arguments.end(), mode_arguments.begin(), mode_arguments.end());
    return arguments;
}

ExitCode start_watcher(const ModeArguments& arguments) {
    const auto executable = current_executable_path();
    if (!executable) {
        return ExitCode::ExecutablePathUnavailable;
    }
    const std::wstring command_line = build_command_line(*executable, watcher_arguments(arguments));
    return spawn_watcher(*executable, command_line) ? ExitCode::Success : ExitCode::SpawnFailed;
}

} // namespace

ExitCode run_bootstrap(ModeArguments arguments) {
    if (arguments.size() != mode_argument_count) {
        return ExitCode::UsageError;
    }
    return run_bootstrap_guarded([&] { return start_watcher(arguments); });
}

} // namespace watchdog
