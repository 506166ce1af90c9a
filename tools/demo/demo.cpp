// The main job, end to end: a stand-in main application records a recovery marker and starts
// the watchdog in bootstrap mode, then ends; the demo shows what the launcher and the watcher
// did, what became of the marker and what the recovery log says.

#include "processes.h"
#include "test_files.h"
#include "win/utf.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace watchdog::testing;

namespace {

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string exit_code_text(const std::optional<DWORD>& code) {
    return code ? std::to_string(*code) : std::string("still running");
}

std::string milliseconds_since(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
           " ms";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        print("usage: watchdog-demo <folder>\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    remove_tree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring marker = folder + L"\\recovery marker.json";
    write_file(marker, "{\"version\": 1, \"sessionId\": \"demo-session-1\"}\n");
    print("marker written:      " + watchdog::utf16_to_utf8(marker) + "\n");

    ChildProcess main_application =
        start_process(sibling_executable(L"stand-in-main.exe"), {L"sleep", L"1500"});
    const auto launch_start = std::chrono::steady_clock::now();
    ChildProcess launcher = start_process(
        sibling_executable(L"system-state-watchdog.exe"),
        {L"--bootstrap", std::to_wstring(main_application.id), L"demo-session-1", marker});
    const auto launcher_code = wait_for_exit(launcher, 10000);
    print("launcher exit code:  " + exit_code_text(launcher_code) + " after " +
          milliseconds_since(launch_start) + "\n");
    const auto watchers = child_process_ids(launcher.id);
    auto watcher = watchers.empty() ? std::nullopt : open_process(watchers.front());
    print("watcher running:     " + std::string(watcher && !wait_for_exit(*watcher, 0) ? "yes" : "no") +
          "\n");

    wait_for_exit(main_application, 10000);
    const auto end_of_main = std::chrono::steady_clock::now();
    print("main application ended\n");
    const auto watcher_code = watcher ? wait_for_exit(*watcher, 10000) : std::nullopt;
    print("watcher exit code:   " + exit_code_text(watcher_code) + " after " +
          milliseconds_since(end_of_main) + "\n");
    print("marker present:      " + std::string(file_exists(marker) ? "yes" : "no") + "\n");
    print("recovery log:\n" +
          read_file(folder + L"\\logs\\system-state-recovery.log").value_or("(none)\n"));
    return launcher_code == 0u && watcher_code.has_value() ? 0 : 1;
}
