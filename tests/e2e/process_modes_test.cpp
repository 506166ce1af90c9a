// The real executable in its two modes, started the way the main application starts it.

#include "processes.h"
#include "test_files.h"
#include "win/utf.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace watchdog::testing {
namespace {

using Arguments = std::vector<std::wstring>;

const std::wstring watchdog_exe = sibling_executable(L"system-state-watchdog.exe");
const std::wstring stand_in_main_exe = sibling_executable(L"stand-in-main.exe");
constexpr DWORD generous_wait = 20000;

DWORD run_watchdog(const Arguments& arguments) {
    const ChildProcess process = start_process(watchdog_exe, arguments);
    const auto code = wait_for_exit(process, generous_wait);
    if (!code) {
        terminate(process);
        ADD_FAILURE() << "the watchdog did not end";
        return 0xFFFFFFFF;
    }
    return *code;
}

ChildProcess start_main_application(DWORD lifetime_ms, SECURITY_ATTRIBUTES* security = nullptr) {
    return start_process(stand_in_main_exe, {L"sleep", std::to_wstring(lifetime_ms)},
                         {.process_security = security});
}

// An id that names no process: one that was in use and is now released.
std::wstring ended_process_id() {
    const ChildProcess ended = start_main_application(0);
    wait_for_exit(ended, generous_wait);
    return std::to_wstring(ended.id);
}

struct UsageCase {
    const char* name;
    Arguments arguments;
};

TEST(ProcessModes, UsageErrorsEndWithCodeTwoAndTouchNothing) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const UsageCase cases[] = {
        {"no arguments", {}},
        {"mode in other case", {L"--Bootstrap", L"1", L"s", marker}},
        {"mode with a suffix", {L"--watchx", L"1", L"s", marker}},
        {"unknown mode", {L"restore", L"1", L"s", marker}},
        {"bootstrap with two", {L"--bootstrap", L"1", L"s"}},
        {"bootstrap with four", {L"--bootstrap", L"1", L"s", marker, L"x"}},
        {"watch with two", {L"--watch", L"1", marker}},
        {"watch with four", {L"--watch", L"1", L"s", marker, L"x"}},
        {"negative id", {L"--watch", L"-1", L"s", marker}},
        {"leading space", {L"--watch", L" 4", L"s", marker}},
        {"trailing space", {L"--watch", L"4 ", L"s", marker}},
        {"hex id", {L"--watch", L"0x10", L"s", marker}},
        {"empty id", {L"--watch", L"", L"s", marker}},
        {"lone plus", {L"--watch", L"+", L"s", marker}},
        {"too large", {L"--watch", L"4294967296", L"s", marker}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const ChildProcess process = start_process(watchdog_exe, row.arguments);
        EXPECT_EQ(wait_for_exit(process, generous_wait), 2u);
        EXPECT_TRUE(child_process_ids(process).empty()) << "a process started";
    }
    EXPECT_FALSE(file_exists(folder.path + L"\\logs"));
}

TEST(ProcessModes, WatchWithAnEndedProcessRestoresAtOnce) {
    TempDirectory folder;
    EXPECT_EQ(run_watchdog({L"--watch", ended_process_id(), L"s", folder.path + L"\\marker.json"}),
              0u);
    EXPECT_EQ(run_watchdog({L"--watch", L"0", L"s", folder.path + L"\\marker.json"}), 0u);
}

TEST(ProcessModes, WatchWaitsForTheMainProcessToEnd) {
    TempDirectory folder;
    const ChildProcess main_application = start_main_application(3000);
    const ChildProcess watcher =
        start_process(watchdog_exe, {L"--watch", std::to_wstring(main_application.id), L"s",
                                     folder.path + L"\\marker.json"});
    EXPECT_FALSE(wait_for_exit(watcher, 1000)) << "the watcher ended while the main process lives";
    ASSERT_TRUE(wait_for_exit(main_application, generous_wait));
    EXPECT_EQ(wait_for_exit(watcher, generous_wait), 0u);
}

DWORD only_child_of(const ChildProcess& parent) {
    const std::vector<DWORD> children = child_process_ids(parent);
    EXPECT_EQ(children.size(), 1u);
    return children.empty() ? 0 : children.front();
}

// The three arguments must reach the watcher unchanged: a marker path with spaces and an empty
// session id. The marker records nothing for the empty session, so the watcher deletes it and
// logs beside it only if both arrived intact.
TEST(ProcessModes, BootstrapReturnsAtOnceAndLeavesADetachedWatcher) {
    TempDirectory folder;
    const std::wstring marker_folder = folder.path + L"\\with space\\";
    const std::wstring marker = marker_folder + L"marker 1.json";
    ASSERT_TRUE(CreateDirectoryW(marker_folder.c_str(), nullptr));
    write_file(marker, "{\"version\":1,\"sessionId\":\"\"}");
    const ChildProcess main_application = start_main_application(60000);
    const ChildProcess launcher = start_process(
        watchdog_exe, {L"--bootstrap", std::to_wstring(main_application.id), L"", marker});
    EXPECT_EQ(wait_for_exit(launcher, generous_wait), 0u);
    auto watcher = open_process(only_child_of(launcher));
    ASSERT_TRUE(watcher);
    EXPECT_FALSE(wait_for_exit(*watcher, 200)) << "the watcher must wait for the main process";
    // No busy cursor for a program that never shows a window; standard handles of its own.
    EXPECT_EQ(startup_flags_of(watcher->handle.get()),
              DWORD{STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK});
    EXPECT_TRUE(file_exists(marker));
    terminate(main_application);
    EXPECT_EQ(wait_for_exit(*watcher, generous_wait), 0u);
    EXPECT_FALSE(file_exists(marker));
    const std::string log =
        read_file(marker_folder + L"logs\\system-state-recovery.log").value_or("");
    EXPECT_EQ(log.substr(log.find(' ') + 1), "[restore] 恢复检查完成，无待恢复系统状态\n");
}

// A watcher waits for hours: it lets go of the folder it was started in (the application's), which
// may then be renamed or removed (an update, an uninstaller), and a relative marker path still
// names the marker it named there.
TEST(ProcessModes, TheWatcherHoldsNoFolderOfTheApplicationOpen) {
    for (const wchar_t* mode : {L"--bootstrap", L"--watch"}) {
        SCOPED_TRACE(utf16_to_utf8(mode));
        TempDirectory folder;
        const std::wstring application = folder.path + L"\\application";
        ASSERT_TRUE(CreateDirectoryW(application.c_str(), nullptr));
        write_file(application + L"\\marker.json", "{\"version\":1,\"sessionId\":\"s\"}");
        const ChildProcess main_application = start_main_application(60000);
        const ChildProcess started = start_process(
            watchdog_exe, {mode, std::to_wstring(main_application.id), L"s", L"marker.json"},
            {.folder = application});
        std::optional<ChildProcess> watcher;
        if (std::wstring_view(mode) == L"--bootstrap") {
            ASSERT_EQ(wait_for_exit(started, generous_wait), 0u);
            watcher = open_process(only_child_of(started));
            ASSERT_TRUE(watcher);
        }
        const ChildProcess& waiting = watcher ? *watcher : started;
        ASSERT_FALSE(wait_for_exit(waiting, 300)) << "the watcher must wait";
        const std::wstring renamed = folder.path + L"\\renamed";
        EXPECT_TRUE(MoveFileW(application.c_str(), renamed.c_str())) << GetLastError();
        EXPECT_TRUE(MoveFileW(renamed.c_str(), application.c_str())) << GetLastError();
        terminate(main_application);
        EXPECT_EQ(wait_for_exit(waiting, generous_wait), 0u);
        EXPECT_FALSE(file_exists(application + L"\\marker.json")) << "not restored";
        remove_tree(application + L"\\logs");
        EXPECT_TRUE(RemoveDirectoryW(application.c_str())) << GetLastError();
    }
}

TEST(ProcessModes, BootstrapDoesNotValidateTheProcessId) {
    TempDirectory folder;
    const ChildProcess launcher =
        start_process(watchdog_exe, {L"--bootstrap", L"not-a-number", L"s", folder.path + L"\\m"});
    ASSERT_TRUE(launcher.handle);
    // Open the watcher before it can end: the launcher's exit is awaited only afterwards.
    std::optional<ChildProcess> watcher;
    for (int i = 0; i < 200 && !watcher; ++i) {
        const auto children = child_process_ids(launcher);
        if (!children.empty()) {
            watcher = open_process(children.front());
        }
        if (!watcher) {
            Sleep(10);
        }
    }
    EXPECT_EQ(wait_for_exit(launcher, generous_wait), 0u);
    if (watcher) {
        EXPECT_EQ(wait_for_exit(*watcher, generous_wait), 2u);
    } else {
        // The watcher may have ended before it could be opened; it was started all the same.
        EXPECT_EQ(child_process_ids(launcher).size(), 1u);
    }
}

// A starter that reads the launcher's output must see the end of it when the launcher exits,
// although the watcher lives on: the watcher may inherit nothing but the null device.
TEST(ProcessModes, TheWatcherInheritsNoneOfTheLaunchersHandles) {
    TempDirectory folder;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle read_end;
    UniqueHandle write_end;
    ASSERT_TRUE(CreatePipe(read_end.put(), write_end.put(), &inheritable, 0));
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    const ChildProcess main_application = start_main_application(60000);
    const ChildProcess launcher = start_process(
        watchdog_exe,
        {L"--bootstrap", std::to_wstring(main_application.id), L"s", folder.path + L"\\m.json"},
        {.standard_output = write_end.get()});
    write_end.reset();
    EXPECT_EQ(wait_for_exit(launcher, generous_wait), 0u);
    auto watcher = open_process(only_child_of(launcher));
    ASSERT_TRUE(watcher);

    DWORD available = 0;
    BOOL pipe_open = TRUE;
    for (int i = 0; i < 500 && pipe_open; ++i) {
        pipe_open = PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr);
        if (pipe_open) {
            Sleep(10);
        }
    }
    EXPECT_FALSE(pipe_open) << "the pipe stayed open after the launcher ended";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_FALSE(wait_for_exit(*watcher, 0)) << "the watcher should still be waiting";
    read_end.reset();
    terminate(main_application);
    EXPECT_EQ(wait_for_exit(*watcher, generous_wait), 0u);
}

// A main process that runs with rights forbidding others to wait on it: the exit cannot be
// confirmed, so the desktop is not touched and the marker stays for the next start.
TEST(ProcessModes, AnUnconfirmableExitKeepsTheMarkerAndLogsOnce) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, "{\"version\":1}");
    UniqueLocalMemory<void> descriptor;
    // Everyone is denied SYNCHRONIZE; everything else is allowed.
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(D;;0x00100000;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1, descriptor.put(), nullptr));
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    const ChildProcess main_application = start_main_application(60000, &security);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    // Some systems ignore the creation attributes of a process; set the list once more.
    const DWORD set = SetSecurityInfo(main_application.handle.get(), SE_KERNEL_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    descriptor.reset();
    ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
    if (const UniqueHandle probe(OpenProcess(SYNCHRONIZE, FALSE, main_application.id)); probe) {
        // Wine 8 keeps process security lists but does not enforce them; the decision behind
        // this path is covered by the watch decision unit tests.
        terminate(main_application);
        GTEST_SKIP() << "this system grants SYNCHRONIZE despite the security descriptor";
    }

    const DWORD code =
        run_watchdog({L"--watch", std::to_wstring(main_application.id), L"s", marker});
    terminate(main_application);
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(read_file(marker).value(), "{\"version\":1}");
    const std::string log = read_file(folder.path + L"\\logs\\system-state-recovery.log").value();
    const std::string expected =
        " [watchdog] 无法确认主进程已经退出，已保留恢复标记供下次启动处理\n";
    EXPECT_EQ(log.substr(log.find(' ')), expected);
}

// The launcher's own executable is renamed after it started and before it runs: the watcher
// cannot be created from the path that the launcher knows.
TEST(ProcessModes, AWatcherThatCannotBeCreatedEndsWithCodeFour) {
    TempDirectory folder;
    const std::wstring copy = folder.path + L"\\watchdog copy.exe";
    ASSERT_TRUE(CopyFileW(watchdog_exe.c_str(), copy.c_str(), FALSE));
    ChildProcess launcher =
        start_process(copy, {L"--bootstrap", ended_process_id(), L"s", folder.path + L"\\m.json"},
                      {.suspended = true});
    ASSERT_TRUE(MoveFileW(copy.c_str(), (folder.path + L"\\moved.exe").c_str()));
    resume(launcher);
    EXPECT_EQ(wait_for_exit(launcher, generous_wait), 4u);
    EXPECT_TRUE(child_process_ids(launcher).empty());
}

} // namespace
} // namespace watchdog::testing
