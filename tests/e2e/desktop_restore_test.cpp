// The whole story through the real executables: a stand-in shell on a private desktop, a
// stand-in main application that records the desktop, breaks it and starts the watchdog, and
// the watcher that puts it back after the main application ends.

#include "run_objects.h"
#include "scenario.h"
#include "session/session_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {
namespace {

const std::string complete_summary = "[restore] 系统状态恢复完成: 任务栏、桌面图标";

// --- Every way the main application can end ----------------------------------------------

struct EndingCase {
    const char* name;
    const wchar_t* end;
    bool array_form;
    const wchar_t* clean_protections_before = L"0"; // switched on and off, as a mode is
};

void check_ending(const EndingCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene;
    const DesktopState before = desktop_state(scene);
    ASSERT_EQ(before.taskbars.size(), 3u);
    ASSERT_EQ(before.icons_visible, true);

    Arguments extra{L"--end", row.end, L"--cycles", row.clean_protections_before};
    if (row.array_form) {
        extra.push_back(L"--array-form");
    }
    Protected run = start_protected_application(scene, extra);
    ASSERT_EQ(run.launcher_exit_code, 0u);
    ASSERT_TRUE(run.watcher);
    EXPECT_TRUE(is_broken(desktop_state(scene)));
    EXPECT_TRUE(file_exists(scene.marker));

    if (std::wstring(row.end) == L"wait") {
        terminate(run.main_application);
    }
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary});
}

TEST(DesktopRestore, EveryEndingOfTheMainApplicationGetsTheDesktopBack) {
    const EndingCase cases[] = {
        {"normal exit", L"exit", false},
        {"abort", L"abort", true},
        {"access violation", L"access-violation", false},
        {"terminated from outside", L"wait", true},
        {"access violation after protections ended cleanly", L"access-violation", false, L"3"},
    };
    for (const auto& row : cases) {
        check_ending(row);
    }
}

// Windows without the long-path opt-in fails every classic file call on such a path; Wine
// accepts it either way, so under Wine this guards the long-path handling without showing the
// failure it prevents.
TEST(DesktopRestore, AMarkerBeyondMaxPathIsRestoredDeletedAndLogged) {
    Scene scene;
    std::wstring folder = scene.folder.path + L"\\state";
    while (folder.size() < 300) {
        folder += L"\\a folder name that makes the marker path long";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    scene.marker = folder + L"\\recovery marker.json";
    scene.log = folder + L"\\logs\\system-state-recovery.log";
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    ASSERT_TRUE(file_exists(scene.marker));
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary});
}

struct JobCase {
    const char* name;
    DWORD limits;
    bool job_closes; // the job's closing ends the main application, and everything in the job
    bool watcher_in_job;
};

UniqueHandle job_with_limits(DWORD limits) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION information{};
    information.BasicLimitInformation.LimitFlags = limits;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &information,
                                        sizeof information)) {
        job.reset();
    }
    return job;
}

void check_job(const JobCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene;
    const DesktopState before = desktop_state(scene);
    UniqueHandle job = job_with_limits(row.limits);
    ASSERT_TRUE(job);
    Protected run = start_protected_application(scene, {}, job.get());
    ASSERT_TRUE(run.watcher);
    BOOL in_job = FALSE;
    ASSERT_TRUE(IsProcessInJob(run.watcher->handle.get(), job.get(), &in_job));
    EXPECT_EQ(in_job != FALSE, row.watcher_in_job);
    std::optional<DWORD> watcher_code;
    if (row.job_closes) {
        job.reset();
        ASSERT_TRUE(wait_for_exit(run.main_application, generous_wait));
        watcher_code = wait_for_exit(*run.watcher, generous_wait);
    } else {
        watcher_code = end_and_wait(scene, run);
    }
    EXPECT_EQ(watcher_code, 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary});
}

// Launchers, IDEs and terminals often run applications in a job that kills its members when it
// closes: the watcher must survive exactly that.
TEST(DesktopRestore, AMainApplicationInAJobIsRestored) {
    const JobCase cases[] = {
        {"the job kills on close and allows breakaway",
         JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK, true, false},
        {"the job forbids breakaway", JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, false, true},
    };
    for (const auto& row : cases) {
        check_job(row);
    }
}

// --- Faults ------------------------------------------------------------------------------

TEST(DesktopRestoreFaults, ATaskbarGoneBeforeTheRestoreKeepsTheMarker) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    on_shell(scene.ground, [] {
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

// One taskbar's thread stops answering after the main application broke the desktop: the
// watcher leaves that one, restores the rest and keeps the marker for the next start.
TEST(DesktopRestoreFaults, ATaskbarThatStopsAnsweringIsLeftAloneAndTheMarkerKept) {
    const NamedEvent hang = create_named_event();
    const NamedEvent hung = create_named_event();
    Scene scene({L"--hang-on", hang.name, L"--hung-signal", hung.name});
    const DesktopState before = desktop_state(scene);
    ASSERT_EQ(before.taskbars.size(), 4u);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    const std::string marker = read_file(scene.marker).value();
    SetEvent(hang.handle.get());
    ASSERT_EQ(WaitForSingleObject(hung.handle.get(), generous_wait), WAIT_OBJECT_0);

    EXPECT_EQ(end_and_wait(scene, run), 6u);
    EXPECT_EQ(read_file(scene.marker), marker);
    EXPECT_EQ(log_lines(scene),
              std::vector<std::string>{"[watchdog] 恢复任务栏失败: 任务栏窗口未响应"});
    const DesktopState after = desktop_state(scene);
    EXPECT_EQ(after.icons_visible, before.icons_visible);
    ASSERT_EQ(after.taskbars.size(), before.taskbars.size());
    int restored = 0;
    for (std::size_t i = 0; i < before.taskbars.size(); ++i) {
        restored += after.taskbars[i] == before.taskbars[i] ? 1 : 0;
    }
    EXPECT_EQ(restored, 3);
}

struct ShellBehaviourCase {
    const char* name;
    const wchar_t* toggle;
    int minimum_commands;
};

void check_unhelpful_shell(const ShellBehaviourCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene({L"--toggle", row.toggle});
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    const DesktopState after = desktop_state(scene);
    EXPECT_EQ(after.icons_visible, true);
    EXPECT_EQ(after.taskbars, before.taskbars);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary});
    EXPECT_GE(toggle_commands_received(scene), row.minimum_commands);
}

TEST(DesktopRestoreFaults, AnUnhelpfulShellStillGetsItsIconsBack) {
    const ShellBehaviourCase cases[] = {
        {"shell hangs on the menu command", L"hang", 1},
        {"shell re-creates the icon view", L"recreate", 1},
        {"shell ignores the menu command", L"ignore", 1},
    };
    for (const auto& row : cases) {
        check_unhelpful_shell(row);
    }
}

TEST(DesktopRestoreFaults, AMarkerThatCannotBeDeletedIsKeptAfterTheRestore) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    UniqueHandle holder(CreateFileW(scene.marker.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const auto code = end_and_wait(scene, run);
    holder.reset();
    EXPECT_EQ(code, 6u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_TRUE(file_exists(scene.marker));
    const auto lines = log_lines(scene);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("[watchdog] 删除恢复标记失败: ")) << lines[0];
}

// An end request that comes while the marker cannot be read (somebody holds it open without
// sharing) does not make the watcher stand down: it cannot tell that the marker is not its run's.
// It goes on waiting, and restores once the main process ends.
TEST(DesktopRestoreFaults, AWatcherThatCannotReadTheMarkerKeepsWaiting) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    UniqueHandle holder(CreateFileW(scene.marker.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const std::wstring end_name = run_object_name(L"end", run_key(scene.marker, "e2e session"));
    UniqueHandle request;
    for (int tries = 0; tries < 500 && !request; ++tries) {
        Sleep(20); // the watcher is starting
        request.reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, end_name.c_str()));
    }
    ASSERT_TRUE(request) << "the watcher holds no end request";
    SetEvent(request.get());
    EXPECT_FALSE(wait_for_exit(*run.watcher, 1500).has_value()) << "the watcher stood down";
    holder.reset();
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
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

// Objects of other kinds under the names of the run's lock and end request, made first by another
// process: the watcher restores all the same.
TEST(DesktopRestoreFaults, NamesTakenFirstByOtherObjectsDoNotStopTheRestore) {
    Scene scene;
    const SessionKey key = run_key(scene.marker, "e2e session");
    const UniqueHandle lock(
        CreateEventW(nullptr, TRUE, FALSE, run_object_name(L"session", key).c_str()));
    const UniqueHandle end(CreateMutexW(nullptr, FALSE, run_object_name(L"end", key).c_str()));
    ASSERT_TRUE(lock && end);
    const DesktopState before = desktop_state(scene);
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    EXPECT_EQ(end_and_wait(scene, run), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary});
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
    std::string log_start;    // empty: no log at all
    bool second_name = false; // the marker given a second name (a hard link)
};

void check_bad_marker(const BadMarkerCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene;
    Protected run = start_protected_application(scene);
    ASSERT_TRUE(run.watcher);
    std::optional<std::string> expected_marker;
    if (row.second_name) {
        const std::wstring second = scene.folder.path + L"\\second name.json";
        ASSERT_TRUE(CreateHardLinkW(second.c_str(), scene.marker.c_str(), nullptr));
        expected_marker = read_file(scene.marker);
    } else if (row.replacement) {
        write_file(scene.marker, *row.replacement);
        expected_marker = row.replacement;
    } else if (row.exit_code != 0) {
        const std::string whole = read_file(scene.marker).value();
        expected_marker = whole.substr(0, whole.size() / 2);
        write_file(scene.marker, *expected_marker);
    } else {
        DeleteFileW(scene.marker.c_str());
    }
    EXPECT_EQ(end_and_wait(scene, run), row.exit_code);
    EXPECT_EQ(read_file(scene.marker), expected_marker);
    const auto lines = log_lines(scene);
    if (row.log_start.empty()) {
        EXPECT_FALSE(file_exists(scene.log));
    } else {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with(row.log_start)) << lines[0];
    }
}

TEST(DesktopRestoreFaults, BadOrMissingMarkersAreLeftAsTheyAre) {
    const BadMarkerCase cases[] = {
        {"version 2", "{\"version\":2,\"sessionId\":\"e2e session\"}", 6,
         "[watchdog] 不支持的系统状态恢复标记版本: 2"},
        {"invalid JSON", "{\"version\":1,\"sessionId\":", 6, "[watchdog] 解析恢复标记失败: "},
        {"truncated", std::nullopt, 6, "[watchdog] 解析恢复标记失败: "},
        {"no marker", std::nullopt, 0, ""},
        {"a marker with a second name", std::nullopt, 6,
         "[watchdog] 读取恢复标记失败: 恢复标记是一个链接或另有名称", true},
    };
    for (const auto& row : cases) {
        check_bad_marker(row);
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
    const ChildProcess late_watcher =
        start_process(sibling_executable(L"system-state-watchdog.exe"),
                      {L"--watch", ended_id, L"e2e session", scene.marker},
                      {.desktop = scene.ground.desktop.name});
    EXPECT_EQ(wait_for_exit(late_watcher, generous_wait), 0u);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));

    const ChildProcess second_watcher =
        start_process(sibling_executable(L"system-state-watchdog.exe"),
                      {L"--watch", ended_id, L"e2e session", scene.marker},
                      {.desktop = scene.ground.desktop.name});
    EXPECT_EQ(wait_for_exit(second_watcher, generous_wait), 0u);
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{complete_summary})
        << "the second watchdog must find nothing to do";
}

} // namespace
} // namespace watchdog::testing
