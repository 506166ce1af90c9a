#include "processes.h"

#include "win/command_line.h"
#include "win/module_path.h"
#include "win/process_start.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <stdexcept>
#include <utility>

namespace watchdog::testing {

std::wstring sibling_executable(const std::wstring& file_name) {
    std::wstring folder = current_executable_path().value_or(L"");
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + file_name;
}

ChildProcess start_process(const std::wstring& executable,
                           const std::vector<std::wstring>& arguments,
                           const StartOptions& options) {
    ProcessStart start{
        .executable = executable,
        .command_line = build_command_line(executable, arguments),
        .creation_flags = options.suspended || options.job != nullptr ? CREATE_SUSPENDED : 0u,
        .desktop = options.desktop,
        .process_security = options.process_security,
    };
    if (options.standard_output != nullptr || options.standard_input != nullptr) {
        start.streams = StandardStreams{options.standard_input, options.standard_output,
                                        options.standard_output};
    }
    // Wine now and then fails to set up a process on a desktop that was created moments ago
    // (ERROR_INTERNAL_ERROR); a second try a little later succeeds.
    auto started = watchdog::start_process(start);
    for (int attempt = 1; attempt < 5 && !started && started.error().code == ERROR_INTERNAL_ERROR;
         ++attempt) {
        Sleep(200);
        started = watchdog::start_process(start);
    }
    if (!started) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(started.error().code));
    }
    ChildProcess child{std::move(started->process), std::move(started->thread), started->id};
    if (options.job != nullptr && !AssignProcessToJobObject(options.job, child.handle.get())) {
        const DWORD assign_error = GetLastError();
        TerminateProcess(child.handle.get(), 1);
        throw std::runtime_error("AssignProcessToJobObject failed: " +
                                 std::to_string(assign_error));
    }
    if (!options.suspended) {
        resume(child);
    }
    return child;
}

std::optional<DWORD> wait_for_exit(const ChildProcess& process, DWORD milliseconds) {
    if (WaitForSingleObject(process.handle.get(), milliseconds) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.handle.get(), &code);
    return code;
}

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::vector<ProcessEntry> running_processes() {
    std::vector<ProcessEntry> processes;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return processes;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
    }
    return processes;
}

std::vector<DWORD> child_process_ids(DWORD parent_id, std::uint64_t created_not_before) {
    std::vector<DWORD> children;
    for (const ProcessEntry& entry : running_processes()) {
        if (entry.parent_id != parent_id || entry.id == parent_id) {
            continue;
        }
        const UniqueHandle child(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.id));
        if (child && creation_time(child.get()) >= created_not_before) {
            children.push_back(entry.id);
        }
    }
    return children;
}

std::vector<DWORD> child_process_ids(const ChildProcess& parent) {
    return child_process_ids(parent.id, creation_time(parent.handle.get()));
}

std::optional<ChildProcess> open_process(DWORD id) {
    UniqueHandle handle(OpenProcess(
        SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE, FALSE, id));
    if (!handle) {
        return std::nullopt;
    }
    return ChildProcess{std::move(handle), {}, id};
}

void resume(ChildProcess& process) {
    ResumeThread(process.main_thread.get());
    process.main_thread.reset();
}

namespace {

PRTL_USER_PROCESS_PARAMETERS process_parameters_of(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                  nullptr) != 0) {
        return nullptr;
    }
    PRTL_USER_PROCESS_PARAMETERS parameters = nullptr;
    if (!ReadProcessMemory(process, &basic.PebBaseAddress->ProcessParameters, &parameters,
                           sizeof parameters, nullptr)) {
        return nullptr;
    }
    return parameters;
}

} // namespace

std::optional<std::wstring> command_line_of(HANDLE process) {
    const PRTL_USER_PROCESS_PARAMETERS parameters = process_parameters_of(process);
    UNICODE_STRING line{};
    if (parameters == nullptr ||
        !ReadProcessMemory(process, &parameters->CommandLine, &line, sizeof line, nullptr)) {
        return std::nullopt;
    }
    std::wstring text(line.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, line.Buffer, text.data(), line.Length, nullptr)) {
        return std::nullopt;
    }
    return text;
}

std::optional<DWORD> startup_flags_of(HANDLE process) {
    const PRTL_USER_PROCESS_PARAMETERS parameters = process_parameters_of(process);
    if (parameters == nullptr) {
        return std::nullopt;
    }
    // After the command line come the environment and seven ULONGs (StartingX, StartingY,
    // CountX, CountY, CountCharsX, CountCharsY, FillAttribute), then WindowFlags: the
    // STARTUPINFO flags.
    constexpr std::size_t window_flags_offset = offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) +
                                                sizeof(UNICODE_STRING) + sizeof(PVOID) +
                                                7 * sizeof(ULONG);
    DWORD flags = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const BYTE*>(parameters) + window_flags_offset,
                           &flags, sizeof flags, nullptr)) {
        return std::nullopt;
    }
    return flags;
}

void terminate(const ChildProcess& process) {
    TerminateProcess(process.handle.get(), 1);
    WaitForSingleObject(process.handle.get(), 10000);
}

} // namespace watchdog::testing
