// The main job, end to end: a stand-in shell on a private desktop, a stand-in main application
// that records the taskbars and the desktop icons in a recovery marker, breaks them, starts the
// watchdog in bootstrap mode and then crashes, and the watcher that puts the desktop back.
// Prints the desktop before, broken and after, the exit codes, the marker and the log.

#include "scenario.h"
#include "win/utf.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace watchdog::testing;
using Clock = std::chrono::steady_clock;

namespace {

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string cell(const TaskbarState& taskbar) {
    const std::string alpha = taskbar.alpha ? std::to_string(*taskbar.alpha) : "none";
    std::string text =
        hex(taskbar.ex_style) + " alpha " + alpha + (taskbar.visible ? " shown" : " hidden");
    text.resize(36, ' ');
    return text;
}

std::string icons_cell(const DesktopState& state) {
    std::string text = !state.icons_visible   ? "no icon view"
                       : *state.icons_visible ? "shown"
                                              : "hidden";
    text.resize(36, ' ');
    return text;
}

void print_table(const DesktopState& before, const DesktopState& broken,
                 const DesktopState& after) {
    print("                      before                              broken                        "
          "      after\n");
    for (std::size_t i = 0; i < before.taskbars.size(); ++i) {
        std::string name = i == 0 ? "primary taskbar" : "secondary taskbar " + std::to_string(i);
        name.resize(22, ' ');
        const auto at = [i](const DesktopState& state) {
            return i < state.taskbars.size() ? cell(state.taskbars[i]) : std::string(36, ' ');
        };
        print(name + at(before) + at(broken) + at(after) + "\n");
    }
    print("desktop icons         " + icons_cell(before) + icons_cell(broken) + icons_cell(after) +
          "\n");
}

std::string exit_code_text(const std::optional<DWORD>& code) {
    return code ? hex(*code) + " (" + std::to_string(*code) + ")" : std::string("none");
}

long long milliseconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

} // namespace

int wmain() {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    print("marker:               " + watchdog::utf16_to_utf8(scene.marker) + "\n");

    Protected run = start_protected_application(scene, {L"--end", L"access-violation"});
    print("launcher exit code:   " + exit_code_text(run.launcher_exit_code) + "\n");
    const DesktopState broken = desktop_state(scene);
    print("marker written:       " + read_file(scene.marker).value_or("(none)") + "\n");

    SetEvent(scene.main_may_end.handle.get());
    const auto main_code = wait_for_exit(run.main_application, generous_wait);
    const auto crashed_at = Clock::now();
    print("main application:     crashed with " + exit_code_text(main_code) + "\n");
    const auto watcher_code =
        run.watcher ? wait_for_exit(*run.watcher, generous_wait) : std::nullopt;
    const auto restored_at = Clock::now();
    const DesktopState after = desktop_state(scene);

    print("watcher exit code:    " + exit_code_text(watcher_code) + ", " +
          std::to_string(milliseconds_between(crashed_at, restored_at)) +
          " ms after the crash\n\n");
    print_table(before, broken, after);
    print("\nmarker present:       " + std::string(file_exists(scene.marker) ? "yes" : "no") +
          "\n");
    print("recovery log:         " + read_file(scene.log).value_or("(none)\n"));
    print(after == before ? "\nthe desktop is back as it was\n"
                          : "\nthe desktop was NOT restored\n");
    return after == before && watcher_code == 0u ? 0 : 1;
}
