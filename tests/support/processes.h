#pragma once

// Starting and watching real processes from tests: the watchdog exe, the stand-in main
// application and the stand-in shell all run as programs of their own.

#include "win/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {

struct ChildProcess {
    UniqueHandle handle;
    UniqueHandle main_thread; // kept only for a process started suspended
    DWORD id = 0;
};

struct StartOptions {
    std::wstring desktop; // empty: the caller's desktop
    // Inheritable handles, inherited as stdout and stderr, and stdin; with either set, the other
    // streams have none and nothing else is inherited.
    HANDLE standard_output = nullptr;
    HANDLE standard_input = nullptr;
    SECURITY_ATTRIBUTES* process_security = nullptr;
    std::wstring folder; // its working folder; empty: the caller's
    bool suspended = false;
    HANDLE job = nullptr; // the process is put into this job before it runs
};

// Full path of an executable built beside the running test executable.
std::wstring sibling_executable(const std::wstring& file_name);

// Starts `executable` with the arguments encoded as the C runtime splits them. Throws when the
// process cannot be created: that is a broken test set-up, not an outcome under test.
ChildProcess start_process(const std::wstring& executable,
                           const std::vector<std::wstring>& arguments,
                           const StartOptions& options = {});

// The exit code, or nothing if the process still runs after `milliseconds`.
std::optional<DWORD> wait_for_exit(const ChildProcess& process, DWORD milliseconds);

// When the process was created, in FILETIME ticks.
std::uint64_t creation_time(HANDLE process);

struct ProcessEntry {
    DWORD id = 0;
    DWORD parent_id = 0;
};

// Every process running now, as the system lists them.
std::vector<ProcessEntry> running_processes();

// Ids of the processes whose parent id is `parent_id` and that were created at or after
// `created_not_before` (also after the parent has ended). Process ids are reused, and a process
// keeps naming a parent that is long gone, so an older process can carry the same parent id.
std::vector<DWORD> child_process_ids(DWORD parent_id, std::uint64_t created_not_before);

// The children of a process this test started.
std::vector<DWORD> child_process_ids(const ChildProcess& parent);

// Opens a process for waiting and reading its exit code; nothing when it is already gone.
std::optional<ChildProcess> open_process(DWORD id);

void terminate(const ChildProcess& process);

// The STARTUPINFO flags (STARTF_...) that another process was created with, read from its
// process parameters; nothing when they cannot be read.
std::optional<DWORD> startup_flags_of(HANDLE process);

// The command line another process was started with, read from its process parameters;
// nothing when it cannot be read.
std::optional<std::wstring> command_line_of(HANDLE process);

// Lets a process that was started suspended run.
void resume(ChildProcess& process);

} // namespace watchdog::testing
