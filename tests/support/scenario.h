#pragma once

// A whole scenario through the real executables, shared by the end-to-end tests and the demo:
// a stand-in shell process on a private desktop, a stand-in main application that records the
// desktop, breaks it and starts the watchdog, and the watcher that its launcher leaves behind.

#include "processes.h"
#include "stand_in_desktop.h"
#include "test_files.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {

using Arguments = std::vector<std::wstring>;
inline constexpr DWORD generous_wait = 30000;

struct TaskbarState {
    HWND window = nullptr;
    DWORD ex_style = 0;
    bool visible = false;
    std::optional<BYTE> alpha; // present only while the window has layered attributes

    bool operator==(const TaskbarState&) const = default;
};

struct DesktopState {
    std::vector<TaskbarState> taskbars;
    std::optional<bool> icons_visible;

    bool operator==(const DesktopState&) const = default;
};

// A manual-reset event with a name unique to this run.
struct NamedEvent {
    std::wstring name;
    UniqueHandle handle;
};

NamedEvent create_named_event();

// A private desktop with the stand-in shell process running on it, and a folder for the marker.
struct Scene {
    // The desktop, and a thread of this process on it: the shell's windows are looked at from
    // that thread, where visibility is reported reliably.
    StandInDesktop ground;
    NamedEvent shell_ready = create_named_event();
    NamedEvent shell_quit = create_named_event();
    NamedEvent main_may_end = create_named_event();
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\state\\recovery marker.json";
    std::wstring log = folder.path + L"\\state\\logs\\system-state-recovery.log";
    std::wstring shell_report = folder.path + L"\\shell report.txt";
    ChildProcess shell;

    // Starts the shell with two secondary taskbars, icons under Progman and `shell_arguments`.
    explicit Scene(const Arguments& shell_arguments = {});
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene();
};

// The stand-in main application, and the watcher that its launcher left behind.
struct Protected {
    ChildProcess main_application;
    std::optional<ChildProcess> watcher;
    std::optional<DWORD> launcher_exit_code;
    bool launcher_not_started = false; // the launcher itself could not be created
};

// The taskbars and the icon view as the scene's desktop shows them now.
DesktopState desktop_state(const Scene& scene);

// True while every taskbar is transparent and invisible and the icons are hidden.
bool is_broken(const DesktopState& state);

// The recovery log's lines without their timestamps.
std::vector<std::string> log_lines(const Scene& scene);

// Starts the stand-in main application, which records and breaks the desktop and starts the
// watchdog; returns once the watcher is held, with the main application still alive.
// With a job, the main application runs in it (and so does the launcher it starts).
Protected start_protected_application(Scene& scene, const Arguments& extra = {},
                                      HANDLE job = nullptr);

// Lets the main application end as it was told to, then waits for the watcher's exit code.
std::optional<DWORD> end_and_wait(Scene& scene, Protected& run);

// Stops the shell and counts the desktop-icon menu commands that reached it.
int toggle_commands_received(Scene& scene);

} // namespace watchdog::testing
