// The uninstall program as an installer runs it: the real executable on the stand-in shell's
// desktop, with whatever an application left at the marker path, and its exit code as the only
// report.

#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace watchdog::testing {
namespace {

enum class LeftBehind {
    nothing,
    crashed_run,   // the application and its watcher both died: the desktop is still broken
    live_run,      // the application still runs, its watcher waiting
    other_version, // a marker this library cannot read
};

struct UninstallCase {
    const char* name;
    LeftBehind left;
    Arguments arguments; // L"<marker>" stands for the scene's marker path
    DWORD exit_code;
    bool marker_stays;
    const char* logged = nullptr; // what the log beside the marker says now, if anything
};

void leave_behind(Scene& scene, LeftBehind left, std::optional<Protected>& run) {
    if (left == LeftBehind::other_version) {
        write_file(scene.marker, R"({"version":2,"sessionId":"uninstall test"})");
    }
    if (left == LeftBehind::crashed_run || left == LeftBehind::live_run) {
        run = start_protected_application(scene);
        ASSERT_TRUE(run->watcher.has_value());
    }
    if (left == LeftBehind::crashed_run) {
        for (const ChildProcess* process : {&*run->watcher, &run->main_application}) {
            terminate(*process);
            wait_for_exit(*process, generous_wait);
        }
    }
}

void check_uninstall(const UninstallCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene;
    const DesktopState before = desktop_state(scene);
    std::optional<Protected> run;
    ASSERT_NO_FATAL_FAILURE(leave_behind(scene, row.left, run));
    Arguments arguments = row.arguments;
    std::ranges::replace(arguments, std::wstring(L"<marker>"), scene.marker);
    const ChildProcess uninstall =
        start_process(sibling_executable(L"system-state-watchdog-uninstall.exe"), arguments,
                      {.desktop = scene.ground.desktop.name});
    EXPECT_EQ(wait_for_exit(uninstall, generous_wait), row.exit_code);
    EXPECT_EQ(file_exists(scene.marker), row.marker_stays);
    const auto log = log_lines(scene);
    ASSERT_EQ(log.size(), row.logged ? 1u : 0u);
    EXPECT_TRUE(!row.logged || log[0].find(row.logged) != std::string::npos) << log[0];
    if (run) {
        // Put back where a crashed run's marker was settled; a live run's desktop left alone.
        EXPECT_EQ(desktop_state(scene) == before, row.exit_code == 0);
    }
    if (row.left == LeftBehind::live_run) {
        EXPECT_EQ(end_and_wait(scene, *run), 0u);
    }
}

TEST(UninstallProgram, EachOutcomeHasItsExitCode) {
    const std::wstring marker = L"<marker>";
    const UninstallCase cases[] = {
        {"restored", LeftBehind::crashed_run, {marker}, 0, false, "恢复完成: 任务栏、桌面图标"},
        {"nothing there", LeftBehind::nothing, {marker}, 3, false},
        {"a live run left alone", LeftBehind::live_run, {marker}, 4, true},
        {"cannot be settled", LeftBehind::other_version, {marker}, 5, true, "恢复标记版本: 2"},
        {"discarded", LeftBehind::other_version, {L"--discard", marker}, 1, false, "丢弃恢复标记"},
        {"nothing there to discard", LeftBehind::nothing, {L"--discard", marker}, 3, false},
        {"a live run not discarded", LeftBehind::live_run, {L"--discard", marker}, 4, true},
        {"no argument", LeftBehind::other_version, {}, 2, true},
        {"--discard alone", LeftBehind::other_version, {L"--discard"}, 2, true},
        {"an unknown switch", LeftBehind::other_version, {L"--restore", marker}, 2, true},
        {"two markers", LeftBehind::other_version, {marker, marker}, 2, true},
        {"an empty path", LeftBehind::other_version, {L""}, 2, true},
    };
    for (const auto& row : cases) {
        check_uninstall(row);
    }
}

// The guide's installer script (docs/integration/uninstall.nsi), built with makensis beside this
// test: installed, then uninstalled silently as a package manager does it, after a crash.
TEST(UninstallProgram, ARealNsisUninstallerPutsTheDesktopBack) {
    const std::wstring installer = sibling_executable(L"example-app-setup.exe");
    if (!file_exists(installer)) {
        GTEST_SKIP() << "the installer is built on Linux hosts only, with Debian's NSIS";
    }
    Scene scene;
    // The script, like the examples, keeps the marker under %LOCALAPPDATA%\ExampleApp.
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", scene.folder.path.c_str()));
    scene.marker = scene.folder.path + L"\\ExampleApp\\desktop-recovery.json";
    const DesktopState before = desktop_state(scene);
    std::optional<Protected> run;
    ASSERT_NO_FATAL_FAILURE(leave_behind(scene, LeftBehind::crashed_run, run));
    // /D= comes last, unquoted; with _?= the uninstaller runs where it is, to the end.
    const std::wstring installed = scene.folder.path + L"\\Programs\\ExampleApp";
    const auto on_desktop = StartOptions{.desktop = scene.ground.desktop.name};
    const ChildProcess install = start_process(installer, {L"/S", L"/D=" + installed}, on_desktop);
    ASSERT_EQ(wait_for_exit(install, generous_wait), 0u);
    const ChildProcess uninstall =
        start_process(installed + L"\\uninstall.exe", {L"/S", L"_?=" + installed}, on_desktop);
    EXPECT_EQ(wait_for_exit(uninstall, generous_wait), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_FALSE(file_exists(scene.folder.path + L"\\ExampleApp")) << "its logs folder is left";
    EXPECT_FALSE(file_exists(installed + L"\\system-state-watchdog-uninstall.exe"));
}

} // namespace
} // namespace watchdog::testing
