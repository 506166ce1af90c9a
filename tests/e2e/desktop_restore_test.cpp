// The whole story through the real executables: a stand-in shell on a private desktop, a
// stand-in main application that records the desktop, breaks it and starts the watchdog, and
// the watcher that puts it back after the main application ends.

#include "processes.h"
#include "shell_desktop.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {
namespace {

using Arguments = std::vector<std::wstring>;
constexpr DWORD generous_wait = 30000;
const std::string complete_summary = "[restore] 系统状态恢复完成: 任务栏、桌面图标";

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

// Unique across runs too: an event of an earlier run may still be held by a process of it.
std::wstring unique_name(const wchar_t* what) {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return std::wstring(L"watchdog-e2e-") + what + L"-" + std::to_wstring(GetCurrentProcessId()) +
           L"-" + std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(counter++);
}

struct NamedEvent {
    std::wstring name = unique_name(L"event");
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, name.c_str());

    NamedEvent() = default;
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;
    ~NamedEvent() { CloseHandle(handle); }
};

struct ShellOptions {
    Arguments extra;
};

// A private desktop with the stand-in shell running on it, and a folder for the marker.
struct Scene {
    PrivateDesktop desktop;
    // A thread of this process that stays on the desktop: the tests look at the shell's
    // windows from it, where visibility is reported reliably. (Wine also closes the desktop
    // handle when the last thread of the process on that desktop ends.)
    ShellThread observer;
    NamedEvent shell_ready;
    NamedEvent shell_quit;
    NamedEvent main_may_end;
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\state\\recovery marker.json";
    std::wstring log = folder.path + L"\\state\\logs\\system-state-recovery.log";
    std::wstring shell_report = folder.path + L"\\shell report.txt";
    ChildProcess shell;

    explicit Scene(const Arguments& shell_arguments = {}) {
        create_private_desktop(desktop);
        start_shell_thread(observer, desktop);
        CreateDirectoryW((folder.path + L"\\state").c_str(), nullptr);
        Arguments arguments{
            L"--ready",   shell_ready.name,        L"--quit", shell_quit.name, L"--report",
            shell_report, L"--secondary-taskbars", L"2"};
        arguments.insert(arguments.end(), shell_arguments.begin(), shell_arguments.end());
        shell = start_process(sibling_executable(L"stand-in-shell.exe"), arguments,
                              {.desktop = desktop.name});
        HANDLE waits[] = {shell_ready.handle, shell.handle};
        if (WaitForMultipleObjects(2, waits, FALSE, generous_wait) != WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(shell.handle, &code);
            throw std::runtime_error("the stand-in shell did not start: exit code " +
                                     std::to_string(code) + ", " +
                                     read_file(shell_report).value_or("no report"));
        }
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene() {
        SetEvent(shell_quit.handle);
        if (!wait_for_exit(shell, generous_wait)) {
            terminate(shell);
        }
    }
};

std::vector<HWND> taskbar_windows() {
    std::vector<HWND> windows;
    if (HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr)) {
        windows.push_back(primary);
    }
    for (HWND after = nullptr;
         (after = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) != nullptr;) {
        windows.push_back(after);
    }
    return windows;
}

BOOL CALLBACK find_icon_view(HWND top_level, LPARAM result) {
    HWND shell_view = FindWindowExW(top_level, nullptr, L"SHELLDLL_DefView", nullptr);
    HWND list_view =
        shell_view ? FindWindowExW(shell_view, nullptr, L"SysListView32", nullptr) : nullptr;
    *reinterpret_cast<HWND*>(result) = list_view;
    return list_view == nullptr;
}

DesktopState desktop_state(const Scene& scene) {
    DesktopState state;
    invoke(scene.observer, [&] {
        for (HWND window : taskbar_windows()) {
            TaskbarState taskbar{window, static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)),
                                 IsWindowVisible(window) != FALSE, std::nullopt};
            COLORREF key = 0;
            BYTE alpha = 0;
            DWORD flags = 0;
            if (GetLayeredWindowAttributes(window, &key, &alpha, &flags)) {
                taskbar.alpha = alpha;
            }
            state.taskbars.push_back(taskbar);
        }
        HWND icons = nullptr;
        EnumWindows(find_icon_view, reinterpret_cast<LPARAM>(&icons));
        if (icons != nullptr) {
            state.icons_visible = IsWindowVisible(icons) != FALSE;
        }
    });
    return state;
}

std::vector<std::string> log_lines(const Scene& scene) {
    std::vector<std::string> lines;
    const std::string content = read_file(scene.log).value_or("");
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = content.substr(start, end - start);
        lines.push_back(line.substr(line.find(' ') + 1));
    }
    return lines;
}

// The stand-in main application, and the watcher that its launcher left behind.
struct Protected {
    ChildProcess main_application;
    std::optional<ChildProcess> watcher;
    std::optional<DWORD> launcher_exit_code;
};

std::optional<ChildProcess> wait_for_child(DWORD parent_id, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 10) {
        for (DWORD id : child_process_ids(parent_id)) {
            if (auto child = open_process(id)) {
                return child;
            }
        }
        Sleep(10);
    }
    return std::nullopt;
}

// Starts the stand-in main application, which records and breaks the desktop and starts the
// watchdog; returns once the watcher is held, with the main application still alive.
Protected start_protected_application(Scene& scene, const Arguments& extra = {}) {
    Arguments arguments{
        L"break-desktop", L"--watchdog", sibling_executable(L"system-state-watchdog.exe"),
        L"--marker",      scene.marker,  L"--session",
        L"e2e session",   L"--proceed",  scene.main_may_end.name};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    Protected result;
    result.main_application = start_process(sibling_executable(L"stand-in-main.exe"), arguments,
                                            {.desktop = scene.desktop.name});
    auto launcher = wait_for_child(result.main_application.id, generous_wait);
    if (launcher) {
        result.launcher_exit_code = wait_for_exit(*launcher, generous_wait);
        result.watcher = wait_for_child(launcher->id, 1000);
    }
    return result;
}

std::optional<DWORD> end_and_wait(Scene& scene, Protected& run) {
    SetEvent(scene.main_may_end.handle);
    if (!wait_for_exit(run.main_application, generous_wait) || !run.watcher) {
        return std::nullopt;
    }
    return wait_for_exit(*run.watcher, generous_wait);
}

bool is_broken(const DesktopState& state) {
    for (const auto& taskbar : state.taskbars) {
        if ((taskbar.ex_style & WS_EX_TRANSPARENT) == 0 || taskbar.alpha != BYTE{0}) {
            return false;
        }
    }
    return !state.taskbars.empty() && state.icons_visible == false;
}

// --- Every way the main application can end ----------------------------------------------

struct EndingCase {
    const char* name;
    const wchar_t* end;
    bool array_form;
};

TEST(DesktopRestore, EveryEndingOfTheMainApplicationGetsTheDesktopBack) {
    const EndingCase cases[] = {
        {"normal exit", L"exit", false},
        {"abort", L"abort", true},
        {"access violation", L"access-violation", false},
        {"terminated from outside", L"wait", true},
    };
    for (const auto& row : cases) {
        Scene scene;
        const DesktopState before = desktop_state(scene);
        ASSERT_EQ(before.taskbars.size(), 3u);
        ASSERT_EQ(before.icons_visible, true);

        Arguments extra{L"--end", row.end};
        if (row.array_form) {
            extra.push_back(L"--array-form");
        }
        Protected run = start_protected_application(scene, extra);
        ASSERT_EQ(run.launcher_exit_code, 0u) << row.name;
        ASSERT_TRUE(run.watcher) << row.name;
        EXPECT_TRUE(is_broken(desktop_state(scene))) << row.name;
        EXPECT_TRUE(file_exists(scene.marker)) << row.name;

        if (std::wstring(row.end) == L"wait") {
            terminate(run.main_application);
        }
        EXPECT_EQ(end_and_wait(scene, run), 0u) << row.name;
        EXPECT_EQ(desktop_state(scene), before) << row.name;
        EXPECT_FALSE(file_exists(scene.marker)) << row.name;
        EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary}) << row.name;
    }
}

// --- Faults ------------------------------------------------------------------------------

TEST(DesktopRestoreFaults, ATaskbarGoneBeforeTheRestoreKeepsTheMarker) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    invoke(scene.observer, [] {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(FindWindowW(L"Shell_TrayWnd", nullptr), WM_CLOSE, 0, 0,
                            SMTO_ABORTIFHUNG, 5000, &ignored);
    });
    const std::string marker = read_file(scene.marker).value();
    EXPECT_EQ(end_and_wait(scene, run), 6u);
    EXPECT_EQ(read_file(scene.marker), marker);
    const auto lines = log_lines(scene);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("[watchdog] 恢复任务栏失败: 未找到 Windows 系统任务栏: "))
        << lines[0];
    EXPECT_EQ(desktop_state(scene).icons_visible, before.icons_visible)
        << "the icons come back although the taskbar failed";
}

int toggle_commands_received(Scene& scene) {
    SetEvent(scene.shell_quit.handle);
    wait_for_exit(scene.shell, generous_wait);
    const std::string report = read_file(scene.shell_report).value_or("");
    int count = 0;
    for (std::size_t at = 0; (at = report.find("toggle-command", at)) != std::string::npos; ++at) {
        ++count;
    }
    return count;
}

struct ShellBehaviourCase {
    const char* name;
    const wchar_t* toggle;
    int minimum_commands;
};

TEST(DesktopRestoreFaults, AnUnhelpfulShellStillGetsItsIconsBack) {
    const ShellBehaviourCase cases[] = {
        {"shell hangs on the menu command", L"hang", 1},
        {"shell re-creates the icon view", L"recreate", 1},
        {"shell ignores the menu command", L"ignore", 1},
    };
    for (const auto& row : cases) {
        Scene scene({L"--toggle", row.toggle});
        const DesktopState before = desktop_state(scene);
        Protected run = start_protected_application(scene);
        ASSERT_TRUE(run.watcher) << row.name;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(end_and_wait(scene, run), 0u) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << row.name;
        const DesktopState after = desktop_state(scene);
        EXPECT_EQ(after.icons_visible, true) << row.name;
        EXPECT_EQ(after.taskbars, before.taskbars) << row.name;
        EXPECT_FALSE(file_exists(scene.marker)) << row.name;
        EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary}) << row.name;
        EXPECT_GE(toggle_commands_received(scene), row.minimum_commands) << row.name;
    }
}

TEST(DesktopRestoreFaults, AMarkerThatCannotBeDeletedIsKeptAfterTheRestore) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    HANDLE holder =
        CreateFileW(scene.marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const auto code = end_and_wait(scene, run);
    CloseHandle(holder);
    EXPECT_EQ(code, 6u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_TRUE(file_exists(scene.marker));
    const auto lines = log_lines(scene);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("[watchdog] 删除恢复标记失败: ")) << lines[0];
}

TEST(DesktopRestoreFaults, ABlockedLogFolderDoesNotStopTheRestore) {
    Scene scene;
    write_file(scene.folder.path + L"\\state\\logs", "a file in the way");
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(read_file(scene.folder.path + L"\\state\\logs"), "a file in the way");
}

TEST(DesktopRestoreFaults, AnotherSessionsMarkerIsNotActedOn) {
    Scene scene;
    Protected run = start_protected_application(scene, {L"--marker-session", L"older session"});
    ASSERT_TRUE(run.watcher);
    const std::string marker = read_file(scene.marker).value();
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(read_file(scene.marker), marker);
    EXPECT_TRUE(is_broken(desktop_state(scene))) << "a foreign marker was restored";
    EXPECT_FALSE(file_exists(scene.log));
}

struct BadMarkerCase {
    const char* name;
    std::optional<std::string> replacement; // empty: the marker is removed
    DWORD exit_code;
    std::string log_start; // empty: no log at all
};

TEST(DesktopRestoreFaults, BadOrMissingMarkersAreLeftAsTheyAre) {
    const BadMarkerCase cases[] = {
        {"version 2", "{\"version\":2,\"sessionId\":\"e2e session\"}", 6,
         "[watchdog] 不支持的系统状态恢复标记版本: 2"},
        {"invalid JSON", "{\"version\":1,\"sessionId\":", 6, "[watchdog] 解析恢复标记失败: "},
        {"truncated", std::nullopt, 6, "[watchdog] 解析恢复标记失败: "},
        {"no marker", std::nullopt, 0, ""},
    };
    for (const auto& row : cases) {
        Scene scene;
        Protected run = start_protected_application(scene);
        ASSERT_TRUE(run.watcher) << row.name;
        std::optional<std::string> expected_marker;
        if (row.replacement) {
            write_file(scene.marker, *row.replacement);
            expected_marker = row.replacement;
        } else if (row.exit_code != 0) {
            const std::string whole = read_file(scene.marker).value();
            expected_marker = whole.substr(0, whole.size() / 2);
            write_file(scene.marker, *expected_marker);
        } else {
            DeleteFileW(scene.marker.c_str());
        }
        EXPECT_EQ(end_and_wait(scene, run), row.exit_code) << row.name;
        EXPECT_EQ(read_file(scene.marker), expected_marker) << row.name;
        const auto lines = log_lines(scene);
        if (row.log_start.empty()) {
            EXPECT_FALSE(file_exists(scene.log)) << row.name;
        } else {
            ASSERT_EQ(lines.size(), 1u) << row.name;
            EXPECT_TRUE(lines[0].starts_with(row.log_start)) << row.name << ": " << lines[0];
        }
    }
}

// The main application may already be gone when the watcher first looks for it.
TEST(DesktopRestoreFaults, AMainApplicationGoneBeforeTheWatcherLooksIsRestoredAtOnce) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene, {L"--end", L"wait"});
    ASSERT_TRUE(run.watcher);
    // Only the watcher started below may act: the one from the launcher goes first.
    terminate(*run.watcher);
    terminate(run.main_application);
    const std::wstring ended_id = std::to_wstring(run.main_application.id);
    run.main_application = ChildProcess(); // the last handle: the id now names no process

    ASSERT_TRUE(file_exists(scene.marker));
    const ChildProcess late_watcher = start_process(
        sibling_executable(L"system-state-watchdog.exe"),
        {L"--watch", ended_id, L"e2e session", scene.marker}, {.desktop = scene.desktop.name});
    EXPECT_EQ(wait_for_exit(late_watcher, generous_wait), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));

    const ChildProcess second_watcher = start_process(
        sibling_executable(L"system-state-watchdog.exe"),
        {L"--watch", ended_id, L"e2e session", scene.marker}, {.desktop = scene.desktop.name});
    EXPECT_EQ(wait_for_exit(second_watcher, generous_wait), 0u);
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary})
        << "the second watchdog must find nothing to do";
}

} // namespace
} // namespace watchdog::testing
