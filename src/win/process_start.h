#pragma once

// The one way the project starts a process: an attribute list restricts what the child inherits,
// and the two handles that CreateProcessW hands back each have one owner.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace watchdog {

// The child's standard streams: each an inheritable handle, or null for a stream without one.
struct StandardStreams {
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE error = nullptr;
};

struct ProcessStart {
    std::wstring executable;   // the application name: a full path, never searched for
    std::wstring command_line; // the whole command line, the program path first
    DWORD creation_flags = 0;
    DWORD startup_flags = 0; // STARTF_... besides STARTF_USESTDHANDLES, which `streams` sets
    // With streams, the child inherits these handles and no other; without, nothing at all.
    std::optional<StandardStreams> streams;
    std::wstring folder; // its working folder; empty: the caller's
};

struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD id = 0;
};

// The started process, or the failure of CreateProcessW.
std::expected<StartedProcess, Win32Failure> start_process(const ProcessStart& start);

// When the process started, in FILETIME ticks; 0 when that cannot be read.
std::uint64_t process_start_time(HANDLE process);

} // namespace watchdog
