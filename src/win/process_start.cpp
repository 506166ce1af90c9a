#include "win/process_start.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace watchdog {
namespace {

// PROC_THREAD_ATTRIBUTE_HANDLE_LIST reads the handles when the process is created, so they live
// as long as the list does; the list's storage is freed only after the list is deleted.
struct InheritedHandles {
    std::vector<HANDLE> handles;
    std::unique_ptr<std::byte[]> storage;
    UniqueAttributeList list;
};

std::expected<void, Win32Failure> restrict_inheritance(InheritedHandles& inherited) {
    SIZE_T size = 0;
    // Asked for its size, the call fails by design: the size is all it gives.
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    inherited.storage = std::make_unique<std::byte[]>(size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(inherited.storage.get());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return std::unexpected(last_win32_failure());
    }
    inherited.list.reset(list);
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.handles.data(),
                                   sizeof(HANDLE) * inherited.handles.size(), nullptr, nullptr)) {
        return std::unexpected(last_win32_failure());
    }
    return {};
}

} // namespace

std::expected<StartedProcess, Win32Failure> start_process(const ProcessStart& start) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = start.startup_flags;
    DWORD flags = start.creation_flags;
    InheritedHandles inherited;
    if (start.streams) {
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = start.streams->input;
        startup.StartupInfo.hStdOutput = start.streams->output;
        startup.StartupInfo.hStdError = start.streams->error;
        for (HANDLE handle : {start.streams->input, start.streams->output, start.streams->error}) {
            if (handle != nullptr &&
                std::ranges::find(inherited.handles, handle) == inherited.handles.end()) {
                inherited.handles.push_back(handle); // each once
            }
        }
    }
    const bool inherits = !inherited.handles.empty();
    if (inherits) {
        if (const auto restricted = restrict_inheritance(inherited); !restricted) {
            return std::unexpected(restricted.error());
        }
        startup.lpAttributeList = inherited.list.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    std::wstring command_line = start.command_line; // CreateProcessW may write into it
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(start.executable.c_str(), command_line.data(), nullptr, nullptr,
                        inherits ? TRUE : FALSE, flags, nullptr,
                        start.folder.empty() ? nullptr : start.folder.c_str(), &startup.StartupInfo,
                        &information)) {
        return std::unexpected(last_win32_failure());
    }
    return StartedProcess{UniqueHandle(information.hProcess), UniqueHandle(information.hThread),
                          information.dwProcessId};
}

std::uint64_t process_start_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

} // namespace watchdog
