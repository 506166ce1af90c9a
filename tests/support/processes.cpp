#include "processes.h"

#include "win/command_line.h"
#include "win/module_path.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

namespace watchdog::testing {

std::wstring sibling_executable(const std::wstring& file_name) {
    std::wstring folder = current_executable_path().value_or(L"");
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + file_name;
}

namespace {

// The handles a child inherits, and nothing else: the attribute list owns its storage's use, the
// storage outlives it.
struct InheritedHandles {
    std::vector<HANDLE> handles;
    std::vector<std::byte> storage;
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;

    ~InheritedHandles() {
        if (list != nullptr) {
            DeleteProcThreadAttributeList(list);
        }
    }
};

void restrict_inheritance(InheritedHandles& inherited, STARTUPINFOEXW& startup) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    inherited.storage.resize(size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(inherited.storage.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        throw std::runtime_error("InitializeProcThreadAttributeList failed");
    }
    inherited.list = list;
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.handles.data(),
                                   sizeof(HANDLE) * inherited.handles.size(), nullptr, nullptr)) {
        throw std::runtime_error("UpdateProcThreadAttribute failed");
    }
    startup.lpAttributeList = list;
}

} // namespace

ChildProcess start_process(const std::wstring& executable,
                           const std::vector<std::wstring>& arguments,
                           const StartOptions& options) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    std::wstring desktop = options.desktop;
    startup.StartupInfo.lpDesktop = desktop.empty() ? nullptr : desktop.data();
    InheritedHandles inherited;
    if (options.standard_output != nullptr || options.standard_input != nullptr) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = options.standard_input;
        startup.StartupInfo.hStdOutput = options.standard_output;
        startup.StartupInfo.hStdError = options.standard_output;
        for (HANDLE handle : {options.standard_input, options.standard_output}) {
            if (handle != nullptr) {
                inherited.handles.push_back(handle);
            }
        }
        restrict_inheritance(inherited, startup);
    }
    const DWORD flags = (options.suspended || options.job != nullptr ? CREATE_SUSPENDED : 0u) |
                        (inherited.list != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0u);
    std::wstring command_line = build_command_line(executable, arguments);
    PROCESS_INFORMATION information{};
    // Wine now and then fails to set up a process on a desktop that was created moments ago
    // (ERROR_INTERNAL_ERROR); a second try a little later succeeds.
    DWORD error = ERROR_INTERNAL_ERROR;
    for (int attempt = 0; attempt < 5 && error == ERROR_INTERNAL_ERROR; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
        }
        error = CreateProcessW(executable.c_str(), command_line.data(), options.process_security,
                               nullptr, inherited.list != nullptr, flags, nullptr,
                               options.folder.empty() ? nullptr : options.folder.c_str(),
                               &startup.StartupInfo, &information)
                    ? ERROR_SUCCESS
                    : GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(error));
    }
    ChildProcess child{UniqueHandle(information.hProcess), UniqueHandle(information.hThread),
                       information.dwProcessId};
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
