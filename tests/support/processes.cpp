#include "processes.h"

#include "main/command_line.h"

#include <tlhelp32.h>

#include <stdexcept>
#include <utility>

namespace watchdog::testing {

namespace {

void close_if_set(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

} // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)),
      main_thread(std::exchange(other.main_thread, nullptr)), id(std::exchange(other.id, 0)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        close_if_set(handle);
        close_if_set(main_thread);
        handle = std::exchange(other.handle, nullptr);
        main_thread = std::exchange(other.main_thread, nullptr);
        id = std::exchange(other.id, 0);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    close_if_set(handle);
    close_if_set(main_thread);
}

std::wstring sibling_executable(const std::wstring& file_name) {
    wchar_t own_path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, own_path, MAX_PATH * 4);
    std::wstring folder(own_path);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + file_name;
}

ChildProcess start_process(const std::wstring& executable,
                           const std::vector<std::wstring>& arguments,
                           const StartOptions& options) {
    std::wstring command_line = build_command_line(executable, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring desktop = options.desktop;
    if (!desktop.empty()) {
        startup.lpDesktop = desktop.data();
    }
    const bool redirect = options.standard_output != nullptr;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = options.standard_output;
        startup.hStdError = options.standard_output;
    }
    PROCESS_INFORMATION info{};
    const DWORD flags = options.suspended ? CREATE_SUSPENDED : 0;
    // Wine now and then fails to set up a process on a desktop that was created moments ago
    // (ERROR_INTERNAL_ERROR); a second try a little later succeeds.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (CreateProcessW(executable.c_str(), command_line.data(), options.process_security,
                           nullptr, redirect, flags, nullptr, nullptr, &startup, &info)) {
            error = ERROR_SUCCESS;
            break;
        }
        error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR) {
            break;
        }
        Sleep(200);
    }
    if (error != ERROR_SUCCESS) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(error));
    }
    ChildProcess child;
    child.handle = info.hProcess;
    child.id = info.dwProcessId;
    child.main_thread = info.hThread;
    if (!options.suspended) {
        close_if_set(child.main_thread);
    }
    return child;
}

std::optional<DWORD> wait_for_exit(const ChildProcess& process, DWORD milliseconds) {
    if (WaitForSingleObject(process.handle, milliseconds) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.handle, &code);
    return code;
}

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::vector<DWORD> child_process_ids(DWORD parent_id, std::uint64_t created_not_before) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return children;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent_id || entry.th32ProcessID == parent_id) {
            continue;
        }
        HANDLE child = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (child != nullptr) {
            if (creation_time(child) >= created_not_before) {
                children.push_back(entry.th32ProcessID);
            }
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
    return children;
}

std::vector<DWORD> child_process_ids(const ChildProcess& parent) {
    return child_process_ids(parent.id, creation_time(parent.handle));
}

std::optional<ChildProcess> open_process(DWORD id) {
    HANDLE handle =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    if (handle == nullptr) {
        return std::nullopt;
    }
    ChildProcess process;
    process.handle = handle;
    process.id = id;
    return process;
}

void resume(ChildProcess& process) {
    ResumeThread(process.main_thread);
    close_if_set(process.main_thread);
}

void terminate(const ChildProcess& process) {
    TerminateProcess(process.handle, 1);
    WaitForSingleObject(process.handle, 10000);
}

} // namespace watchdog::testing
