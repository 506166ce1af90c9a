// Figures, not verdicts: how long the launcher takes against an empty program, how long the
// restore takes from the main process's end to the deleted marker, and what the watcher costs
// while it waits. Every timing is the median of repeated runs.

#include "scenario.h"

#include <system_state_watchdog/client.hpp>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace watchdog::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int repetitions = 15;
const std::wstring watchdog_exe = sibling_executable(L"system-state-watchdog.exe");

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

DWORD handle_count() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string figure(double value, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    return text;
}

ChildProcess start_sleeper() {
    return start_process(sibling_executable(L"stand-in-main.exe"), {L"sleep", L"600000"});
}

double time_to_exit(const std::wstring& executable, const Arguments& arguments) {
    const auto start = Clock::now();
    const ChildProcess process = start_process(executable, arguments);
    wait_for_exit(process, generous_wait);
    return milliseconds(Clock::now() - start);
}

void measure_launcher() {
    TempDirectory folder;
    const ChildProcess sleeper = start_sleeper();
    const Arguments bootstrap{L"--bootstrap", std::to_wstring(sleeper.id), L"bench",
                              folder.path + L"\\marker.json"};
    std::vector<double> launcher;
    std::vector<double> empty;
    for (int i = 0; i < repetitions; ++i) {
        launcher.push_back(time_to_exit(watchdog_exe, bootstrap));
        empty.push_back(time_to_exit(sibling_executable(L"empty-program.exe"), {}));
    }
    terminate(sleeper); // every watcher started above now finds no marker and ends
    const double ratio = median(launcher) / median(empty);
    print("launcher wall time         " + figure(median(launcher), "ms") + "  (empty program " +
          figure(median(empty), "ms") + ", ratio " + figure(ratio, "x") + ")\n");
}

// A stand-in desktop with three taskbars and the desktop icons, owned by a thread of this
// process.
struct BenchDesktop {
    StandInDesktop ground;
    HWND list_view = on_shell(ground, [this] {
        for (const auto kind :
             {TaskbarKind::primary, TaskbarKind::secondary, TaskbarKind::secondary}) {
            create_taskbar_window(ground.taskbar_log, {.kind = kind, .visible = true});
        }
        register_desktop_window_classes();
        return create_program_manager_icons(ground.icons, true)->list_view;
    });
};

const std::string taskbar_json =
    "\"taskbar\":{\"appbar_state\":2,\"windows\":["
    "[0,128,0,255,2,false],[0,128,0,255,2,false],[0,128,0,255,2,false]]}";

struct RestoreCase {
    const char* name;
    std::string marker;
    bool hide_icons;
    std::wstring executable = watchdog_exe;
};

// From the main process's end to the marker's deletion, as seen by polling the file.
double one_restore(BenchDesktop& bench, const RestoreCase& restore, const std::wstring& marker) {
    write_file(marker, restore.marker);
    if (restore.hide_icons) {
        on_shell(bench.ground, [&] { ShowWindow(bench.list_view, SW_HIDE); });
    }
    const ChildProcess sleeper = start_sleeper();
    const ChildProcess watcher = start_process(
        restore.executable, {L"--watch", std::to_wstring(sleeper.id), L"bench", marker},
        {.desktop = bench.ground.desktop.name});
    Sleep(300); // let the watcher reach its wait
    TerminateProcess(sleeper.handle.get(), 1);
    WaitForSingleObject(sleeper.handle.get(), INFINITE);
    const auto ended = Clock::now();
    while (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES &&
           Clock::now() - ended < std::chrono::seconds(10)) {
        Sleep(0);
    }
    const double elapsed = milliseconds(Clock::now() - ended);
    wait_for_exit(watcher, generous_wait);
    return elapsed;
}

void measure_restores() {
    const RestoreCase cases[] = {
        {"nothing recorded", "{\"version\":1,\"sessionId\":\"bench\"}", false},
        {"(a program that waits and deletes)", "{\"version\":1,\"sessionId\":\"bench\"}", false,
         sibling_executable(L"wait-and-delete.exe")},
        {"taskbar, three windows", "{\"version\":1,\"sessionId\":\"bench\"," + taskbar_json + "}",
         false},
        {"taskbar and icons (menu command)",
         "{\"version\":1,\"sessionId\":\"bench\",\"desktopIcons\":{\"originalVisible\":true}," +
             taskbar_json + "}",
         true},
    };
    BenchDesktop bench;
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    // The cases take turns, so that a machine that gets busier or quieter meanwhile weighs on
    // each of them alike.
    std::vector<std::vector<double>> times(std::size(cases));
    for (int i = 0; i < repetitions; ++i) {
        for (std::size_t c = 0; c < std::size(cases); ++c) {
            times[c].push_back(one_restore(bench, cases[c], marker));
        }
    }
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        std::string name = cases[c].name;
        name.resize(40, ' ');
        print("end to marker deleted: " + name + figure(median(times[c]), "ms") + "\n");
    }
}

struct ProcessCost {
    double cpu_ms = 0;
    // Empty when the system did not report the figure: Wine reports no private bytes for
    // another process, and a figure that was not measured must not read as zero.
    std::optional<double> private_kib;
    std::optional<double> working_set_kib;
};

std::optional<double> reported_kib(SIZE_T bytes) {
    if (bytes == 0) {
        return std::nullopt;
    }
    return static_cast<double>(bytes) / 1024.0;
}

std::string kib_figure(const std::optional<double>& kib) {
    return kib ? figure(*kib, "KiB") : std::string("not reported");
}

ProcessCost cost_of(const ChildProcess& process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(process.handle.get(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!K32GetProcessMemoryInfo(process.handle.get(),
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof memory)) {
        memory = {};
    }
    return {static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0,
            reported_kib(memory.PrivateUsage), reported_kib(memory.WorkingSetSize)};
}

// CPU time is read after 1 s and after 10 s of waiting: what start-up costs shows in both, and
// only polling would make the second figure grow.
void measure_waiting_watcher() {
    TempDirectory folder;
    const ChildProcess sleeper = start_sleeper();
    const ChildProcess watcher = start_process(
        watchdog_exe, {L"--watch", std::to_wstring(sleeper.id), L"bench", folder.path + L"\\m"});
    Sleep(1000);
    const ProcessCost early = cost_of(watcher);
    Sleep(9000);
    const ProcessCost late = cost_of(watcher);
    print("watcher CPU while waiting  " + figure(late.cpu_ms - early.cpu_ms, "ms") +
          " from 1 s to 10 s (" + figure(late.cpu_ms, "ms") + " in all, start-up included)\n");
    print("watcher memory at 10 s     private " + kib_figure(late.private_kib) + ", working set " +
          kib_figure(late.working_set_kib) + "\n");
    terminate(sleeper);
    wait_for_exit(watcher, generous_wait);
}

// The watchdogs that still run for the marker at `marker`.
int watchers_of(const std::wstring& marker) {
    int count = 0;
    for (const ProcessEntry& entry : running_processes()) {
        if (const auto process = open_process(entry.id)) {
            const auto command_line = command_line_of(process->handle.get());
            count += command_line && command_line->find(marker) != std::wstring::npos &&
                     command_line->find(L"--watch") != std::wstring::npos;
        }
    }
    return count;
}

// A host that switches protection on and off: the time of one protect and clean end, and what
// is left of them in the host and as watchers.
void measure_protection_cycles(int cycles) {
    BenchDesktop bench;
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    std::string failure; // the last one's message
    const auto cycle = [&] {
        const auto ended = on_desktop(bench.ground, [&] {
            auto protection = watchdog::client::protect_desktop(
                marker, watchdog::client::Items::both, watchdog_exe);
            return protection ? watchdog::client::end_protection(std::move(*protection))
                              : std::unexpected(protection.error());
        });
        if (!ended) {
            failure = ended.error().message;
        }
        return ended.has_value();
    };
    cycle(); // what the first cycle allocates for good
    const DWORD handles_before = handle_count();
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < cycles; ++i) {
        const auto start = Clock::now();
        failed += cycle() ? 0 : 1;
        times.push_back(milliseconds(Clock::now() - start));
    }
    Sleep(1000);
    print("protect and end, " + std::to_string(cycles) + " times: " + figure(median(times), "ms") +
          " each, " + std::to_string(failed) + " failed; watchers left " +
          std::to_string(watchers_of(marker)) + "; the host's handles " +
          std::to_string(static_cast<long>(handle_count()) - static_cast<long>(handles_before)) +
          " more\n" + (failed == 0 ? "" : "the last failure: " + failure + "\n"));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // --cycles N: only the protect-and-end figure, with N cycles (100 otherwise).
    if (argc == 3 && std::wstring(argv[1]) == L"--cycles") {
        measure_protection_cycles(static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
        return 0;
    }
    print("medians of " + std::to_string(repetitions) + " runs\n");
    measure_launcher();
    measure_restores();
    measure_waiting_watcher();
    measure_protection_cycles(100);
    return 0;
}
