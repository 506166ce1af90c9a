#include "scenario.h"

#include "shell_lookup.h"

#include <system_state_watchdog/client.hpp>

#include <atomic>
#include <stdexcept>

namespace watchdog::testing {
namespace {

// Unique across runs too: an event of an earlier run may still be held by a process of it.
std::wstring unique_name(const wchar_t* what) {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return std::wstring(L"watchdog-e2e-") + what + L"-" + std::to_wstring(GetCurrentProcessId()) +
           L"-" + std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(counter++);
}

// The watcher for this main application and this very marker: its command line names both. The
// launcher that started it is gone by now, and Wine hands its id out again at once.
std::optional<ChildProcess> wait_for_watcher(DWORD main_id, std::uint64_t created_not_before,
                                             const std::wstring& marker, DWORD milliseconds) {
    const std::wstring watching = L"--watch " + std::to_wstring(main_id) + L" ";
    for (DWORD waited = 0; waited < milliseconds; waited += 10) {
        for (const ProcessEntry& entry : running_processes()) {
            auto process = open_process(entry.id);
            const auto line = process ? command_line_of(process->handle.get()) : std::nullopt;
            if (line && line->find(watching) != std::wstring::npos &&
                line->find(marker) != std::wstring::npos &&
                creation_time(process->handle.get()) >= created_not_before) {
                return process;
            }
        }
        Sleep(10);
    }
    return std::nullopt;
}

struct LauncherReport {
    DWORD id = 0;
    DWORD exit_code = 0;
    int code = 0; // the start's client::Code, 0 when it started
};

std::optional<LauncherReport> wait_for_launcher_report(const std::wstring& report,
                                                       const ChildProcess& main_application) {
    for (DWORD waited = 0; waited < generous_wait; waited += 10) {
        if (const auto text = read_file(report); text && !text->empty()) {
            const auto space = text->find(' ');
            const auto second = text->find(' ', space + 1);
            return LauncherReport{static_cast<DWORD>(std::stoul(text->substr(0, space))),
                                  static_cast<DWORD>(std::stoul(text->substr(space + 1))),
                                  std::stoi(text->substr(second + 1))};
        }
        if (wait_for_exit(main_application, 10)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

NamedEvent create_named_event() {
    NamedEvent event{unique_name(L"event"), {}};
    event.handle.reset(CreateEventW(nullptr, TRUE, FALSE, event.name.c_str()));
    return event;
}

Scene::Scene(const Arguments& shell_arguments) {
    CreateDirectoryW((folder.path + L"\\state").c_str(), nullptr);
    Arguments arguments{
        L"--ready",   shell_ready.name,        L"--quit", shell_quit.name, L"--report",
        shell_report, L"--secondary-taskbars", L"2"};
    arguments.insert(arguments.end(), shell_arguments.begin(), shell_arguments.end());
    // Under load Wine now and then fails a window creation on a new desktop (CreateWindowExW
    // with error 0): a shell that could not start is started again, twice at most.
    for (int attempt = 0;; ++attempt) {
        shell = start_process(sibling_executable(L"stand-in-shell.exe"), arguments,
                              {.desktop = ground.desktop.name});
        HANDLE waits[] = {shell_ready.handle.get(), shell.handle.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, generous_wait) == WAIT_OBJECT_0) {
            return;
        }
        DWORD code = 0;
        GetExitCodeProcess(shell.handle.get(), &code);
        if (attempt == 2) {
            throw std::runtime_error("the stand-in shell did not start: exit code " +
                                     std::to_string(code) + ", " +
                                     read_file(shell_report).value_or("no report"));
        }
    }
}

Scene::~Scene() {
    SetEvent(shell_quit.handle.get());
    if (!wait_for_exit(shell, generous_wait)) {
        terminate(shell);
    }
}

DesktopState desktop_state(const Scene& scene) {
    DesktopState state;
    on_shell(scene.ground, [&] {
        for (HWND window : find_shell_taskbars()) {
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
        HWND icons = find_shell_icon_view();
        if (icons != nullptr) {
            state.icons_visible = IsWindowVisible(icons) != FALSE;
        }
    });
    return state;
}

bool is_broken(const DesktopState& state) {
    for (const auto& taskbar : state.taskbars) {
        if ((taskbar.ex_style & WS_EX_TRANSPARENT) == 0 || taskbar.alpha != BYTE{0}) {
            return false;
        }
    }
    return !state.taskbars.empty() && state.icons_visible == false;
}

std::vector<std::string> log_lines(const Scene& scene) {
    return log_lines_without_time(scene.log);
}

namespace {

Protected start_protected_application_once(Scene& scene, const Arguments& extra, HANDLE job) {
    const std::wstring report = scene.folder.path + L"\\launcher.txt";
    Arguments arguments{
        L"break-desktop",     L"--watchdog", sibling_executable(L"system-state-watchdog.exe"),
        L"--marker",          scene.marker,  L"--session",
        L"e2e session",       L"--proceed",  scene.main_may_end.name,
        L"--launcher-report", report};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    DeleteFileW(report.c_str());
    Protected result;
    result.main_application = start_process(sibling_executable(L"stand-in-main.exe"), arguments,
                                            {.desktop = scene.ground.desktop.name, .job = job});
    // The launcher lives for milliseconds, too briefly to be caught in a process list: the main
    // application reports it once it has ended.
    const auto launched = wait_for_launcher_report(report, result.main_application);
    if (launched) {
        result.launcher_exit_code = launched->exit_code;
        result.launcher_not_started =
            launched->code == static_cast<int>(watchdog::client::Code::launcher_not_started);
    }
    // Only a launcher that started a watcher is reported with an id (the main application's).
    if (launched && launched->id != 0) {
        // The watcher was created after the main application.
        result.watcher = wait_for_watcher(result.main_application.id,
                                          creation_time(result.main_application.handle.get()),
                                          scene.marker, generous_wait);
    }
    return result;
}

} // namespace

// Under load Wine now and then fails the launcher's creation of the watcher (the launcher ends
// with exit code 4, as it must), or the creation of the launcher itself: the platform's failure,
// not the product's, so the start is made again, twice at most, with the marker it left removed.
Protected start_protected_application(Scene& scene, const Arguments& extra, HANDLE job) {
    for (int attempt = 0;; ++attempt) {
        Protected run = start_protected_application_once(scene, extra, job);
        const bool platform_failed = run.launcher_exit_code == 4u || run.launcher_not_started;
        if (!platform_failed || attempt == 2) {
            return run;
        }
        wait_for_exit(run.main_application, generous_wait);
        DeleteFileW(scene.marker.c_str());
    }
}

std::optional<DWORD> end_and_wait(Scene& scene, Protected& run) {
    SetEvent(scene.main_may_end.handle.get());
    if (!wait_for_exit(run.main_application, generous_wait) || !run.watcher) {
        return std::nullopt;
    }
    return wait_for_exit(*run.watcher, generous_wait);
}

int toggle_commands_received(Scene& scene) {
    SetEvent(scene.shell_quit.handle.get());
    wait_for_exit(scene.shell, generous_wait);
    const std::string report = read_file(scene.shell_report).value_or("");
    int count = 0;
    for (std::size_t at = 0; (at = report.find("toggle-command", at)) != std::string::npos; ++at) {
        ++count;
    }
    return count;
}

} // namespace watchdog::testing
