#include "main/bootstrap.h"
#include "main/watch.h"
#include "win/path.h"

#include "processes.h"
#include "test_files.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace watchdog {
namespace {

struct ProcessIdCase {
    const char* text;
    std::optional<std::uint32_t> expected;
};

TEST(ProcessIdArgument, AcceptsOnlyPlainDecimalWithinThirtyTwoBits) {
    const ProcessIdCase cases[] = {
        {"1234", 1234},
        {"+1234", 1234},
        {"007", 7},
        {"0", 0},
        {"4294967295", 4294967295u},
        {"0000000000004294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {"-1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"\xEF\xBC\x91", std::nullopt}, // a full-width digit is not an ASCII digit
    };
    for (const auto& row : cases) {
        SCOPED_TRACE("'" + std::string(row.text) + "'");
        EXPECT_EQ(parse_process_id(row.text), row.expected);
    }
}

// The main process is opened before anything else; a process that is gone, or whose id names a
// process started after the watcher, counts as ended.
TEST(MainProcess, IsEndedWhenGoneOrStartedAfterTheWatcher) {
    const std::wstring stand_in = testing::sibling_executable(L"stand-in-main.exe");
    const testing::ChildProcess lasting = testing::start_process(stand_in, {L"sleep", L"60000"});
    const std::uint64_t started = testing::creation_time(lasting.handle.get());
    struct Case {
        const char* name;
        DWORD id;
        std::uint64_t watcher_started;
        std::optional<WaitOutcome> ended;
    };
    const Case cases[] = {
        {"a process started before the watcher", lasting.id, started + 1, std::nullopt},
        {"a process started as the watcher did", lasting.id, started, std::nullopt},
        {"an id given again after the watcher started", lasting.id, started - 1,
         WaitOutcome::main_process_ended},
        {"no process of that id", 0, started + 1, WaitOutcome::main_process_ended},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto opened = open_main_process(row.id, row.watcher_started);
        EXPECT_EQ(opened ? std::nullopt : std::optional(opened.error()), row.ended);
        EXPECT_TRUE(!opened || opened->valid());
    }
    testing::terminate(lasting);
}

// The launcher's exit code tells a main application which of its steps failed.
std::wstring spawned;
std::expected<std::wstring, Win32Failure> own_path_read() {
    return L"C:\\app\\system-state-watchdog.exe";
}
std::expected<std::wstring, Win32Failure> own_path_unreadable() {
    return std::unexpected(win32_failure(ERROR_NOT_ENOUGH_MEMORY));
}
std::expected<void, Win32Failure> spawns(const std::wstring&, const std::wstring& command_line) {
    spawned = command_line;
    return {};
}
std::expected<void, Win32Failure> cannot_spawn(const std::wstring&, const std::wstring&) {
    spawned = L"tried";
    return std::unexpected(win32_failure(ERROR_ACCESS_DENIED));
}

TEST(LauncherSteps, ItsExitCodeSaysWhichStepFailed) {
    const ModeArguments arguments{L"42", L"a session", L"C:\\m.json"};
    const struct {
        OwnPath own_path;
        SpawnWatcher spawn;
        ExitCode exit_code;
        std::wstring spawned;
    } cases[] = {
        {own_path_read, spawns, ExitCode::Success,
         LR"("C:\app\system-state-watchdog.exe" --watch 42 "a session" C:\m.json)"},
        {own_path_read, cannot_spawn, ExitCode::SpawnFailed, L"tried"},
        {own_path_unreadable, spawns, ExitCode::ExecutablePathUnavailable, L""},
    };
    for (const auto& row : cases) {
        spawned.clear();
        EXPECT_EQ(start_watcher(arguments, row.own_path, row.spawn), row.exit_code);
        EXPECT_EQ(spawned, row.spawned);
    }
}

// An exception escaping a mode must neither reach abort() nor go unreported.
TEST(EscapingExceptions, EndTheWatcherWithOneLogLineAndTheLauncherWithFour) {
    testing::TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    EXPECT_EQ(run_watch_catching(marker, []() -> ExitCode { throw std::bad_alloc(); }),
              ExitCode::RestoreFailed);
    EXPECT_EQ(testing::log_lines_without_time(folder.path + L"\\logs\\system-state-recovery.log"),
              std::vector<std::string>{"[watchdog] 恢复过程意外中止: std::bad_alloc"});
    EXPECT_EQ(run_bootstrap_catching([]() -> ExitCode { throw std::bad_alloc(); }),
              ExitCode::SpawnFailed);
}

struct AfterWaitCase {
    const char* name;
    WaitOutcome outcome;
    std::string marker;
    ExitCode exit_code;
    bool marker_kept;
    std::vector<std::string> log;
};

// What the watcher does once its wait is over. A marker that a restore run would act on is
// used throughout, so that a watcher going on to restore shows.
TEST(WatchAfterTheWait, RestoresOnlyWhenTheExitIsConfirmedAndLogsEachOutcomeOnce) {
    const std::string restorable = R"({"version":1,"sessionId":"s"})";
    const AfterWaitCase cases[] = {
        {"exit not confirmed",
         WaitOutcome::exit_unconfirmed,
         restorable,
         ExitCode::ExitUnconfirmed,
         true,
         {"[watchdog] 无法确认主进程已经退出，已保留恢复标记供下次启动处理"}},
        {"exit confirmed",
         WaitOutcome::main_process_ended,
         restorable,
         ExitCode::Success,
         false,
         {"[restore] 恢复检查完成，无待恢复系统状态"}},
        {"the run ended cleanly, another session's marker in its place",
         WaitOutcome::run_ended_cleanly,
         R"({"version":1,"sessionId":"next"})",
         ExitCode::Success,
         true,
         {}},
        {"exit confirmed, restore fails",
         WaitOutcome::main_process_ended,
         R"({"version":2,"sessionId":"s"})",
         ExitCode::RestoreFailed,
         true,
         {"[watchdog] 不支持的系统状态恢复标记版本: 2"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        testing::TempDirectory folder;
        const std::wstring marker = folder.path + L"\\marker.json";
        testing::write_file(marker, row.marker);
        BoundedWorker worker;
        EXPECT_EQ(conclude_watch(row.outcome, marker, {comparable_path(marker), "s"}, {}, worker),
                  row.exit_code);
        EXPECT_EQ(testing::read_file(marker),
                  row.marker_kept ? std::optional(row.marker) : std::nullopt);
        EXPECT_EQ(
            testing::log_lines_without_time(folder.path + L"\\logs\\system-state-recovery.log"),
            row.log);
    }
}

// Told that its run has ended, a watcher stands down only when no marker of its session is
// left: whoever sets the request cannot make it skip a restore.
TEST(WatchEndRequest, StandsDownOnlyWhenNoMarkerOfTheSessionIsLeft) {
    struct Case {
        const char* name;
        std::optional<std::string> marker;
        RunLook look;
        bool held_open = false;
    };
    const Case cases[] = {
        {"no marker", std::nullopt, RunLook::over},
        {"another session's marker", R"({"version":1,"sessionId":"next"})", RunLook::over},
        {"the session's marker", R"({"version":1,"sessionId":"s"})", RunLook::going},
        {"a marker of another version", R"({"version":2,"sessionId":"next"})", RunLook::going},
        {"a marker that cannot be parsed", "{\"sessionId\":\"t\"", RunLook::going},
        {"a marker held open without sharing", R"({"version":1,"sessionId":"next"})",
         RunLook::going, true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        testing::TempDirectory folder;
        const std::wstring marker = folder.path + L"\\marker.json";
        if (row.marker) {
            testing::write_file(marker, *row.marker);
        }
        const UniqueHandle holder(row.held_open ? CreateFileW(marker.c_str(), GENERIC_READ, 0,
                                                              nullptr, OPEN_EXISTING, 0, nullptr)
                                                : nullptr);
        BoundedWorker worker;
        EXPECT_EQ(look_at_run(worker, marker, "s", nullptr), row.look);
    }
}

// A look at the marker that stalls (an oplock whose break nobody acknowledges, a share that stops
// answering) gives way the moment the main process ends.
std::expected<OpenedFile, Win32Failure> stalling_inspect(HANDLE) {
    Sleep(INFINITE);
    return std::unexpected(Win32Failure{});
}

TEST(WatchEndRequest, AStalledLookSeesTheMainProcessEnd) {
    testing::TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    testing::write_file(marker, R"({"version":1,"sessionId":"s"})");
    const testing::ChildProcess brief = testing::start_process(
        testing::sibling_executable(L"stand-in-main.exe"), {L"sleep", L"300"});
    BoundedWorker worker;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(look_at_run(worker, marker, "s", brief.handle.get(), {true, stalling_inspect}),
              RunLook::main_process_ended);
    EXPECT_LT(std::chrono::steady_clock::now() - start, marker_file_wait);
}

// A request made by somebody else while the marker still holds the session does not end the
// wait: only the main process, or the run's own end later, does. A run that is over ends it at
// once.
TEST(WatchEndRequest, ARequestAloneNeverEndsTheWait) {
    const std::wstring stand_in = testing::sibling_executable(L"stand-in-main.exe");
    const UniqueHandle request(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    const testing::ChildProcess brief = testing::start_process(stand_in, {L"sleep", L"300"});
    int asked = 0;
    EXPECT_EQ(wait_for_main_process(brief.handle.get(), request.get(),
                                    [&] {
                                        ++asked;
                                        return RunLook::going;
                                    }),
              WaitOutcome::main_process_ended);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(testing::wait_for_exit(brief, 0).has_value()) << "the wait ended before it did";

    const testing::ChildProcess lasting = testing::start_process(stand_in, {L"sleep", L"60000"});
    EXPECT_EQ(
        wait_for_main_process(lasting.handle.get(), request.get(), [] { return RunLook::over; }),
        WaitOutcome::run_ended_cleanly);
    // A request that came too early is forgotten, and the run's own end, later, is heard.
    asked = 0;
    SetEvent(request.get());
    EXPECT_EQ(wait_for_main_process(lasting.handle.get(), request.get(),
                                    [&] { return ++asked == 2 ? RunLook::over : RunLook::going; }),
              WaitOutcome::run_ended_cleanly);
    testing::terminate(lasting);
}

// From its start a watcher holds the items its own version 1 marker records, beside the
// application that holds them already, and no item of any other marker.
TEST(WatchHold, HoldsTheItemsOfItsOwnMarkerBesideTheApplication) {
    const SessionKey key{L"C:\\WATCH HOLD " + std::to_wstring(GetCurrentProcessId()), "s"};
    const GuardedItem taskbar[] = {GuardedItem::taskbar};
    const auto application = hold_run({key.marker + L"\\APP", "s"}, taskbar, ItemClaim::alone);
    ASSERT_TRUE(application.has_value());
    const RecoveryMarker recording{1, "s", {}, TaskbarRecoverySnapshot{}};
    struct Case {
        const char* name;
        std::optional<SessionMarker> first;
        std::size_t items;
    };
    const Case cases[] = {
        {"its own marker",
         SessionMarker{.verdict = MarkerVerdict::this_session, .marker = recording}, 1},
        {"another session's",
         SessionMarker{.verdict = MarkerVerdict::other_session, .marker = recording}, 0},
        {"another version",
         SessionMarker{.verdict = MarkerVerdict::unsupported_version, .marker = recording}, 0},
        {"no marker", SessionMarker{.verdict = MarkerVerdict::absent}, 0},
        {"a read given up for the main process", std::nullopt, 0},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const RunHold hold = hold_watched_run(key, row.first);
        EXPECT_EQ(hold.items.size(), row.items);
        EXPECT_TRUE(hold.presence.valid());
        EXPECT_TRUE(hold.end_request.valid());
    }
}

// The application may protect the items again the moment the watcher answers: it lets go of
// them first.
std::wstring item_name;
bool item_held_at_answer = true;

TEST(WatchEndRequest, AWatcherLetsGoOfItsItemsBeforeItAnswers) {
    item_name = L"Local\\watch-test-item-" + std::to_wstring(GetCurrentProcessId());
    RunHold holds;
    holds.items.emplace_back(CreateEventW(nullptr, TRUE, FALSE, item_name.c_str()));
    holds.presence.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(holds.items.front() && holds.presence);
    stand_down(std::move(holds), [](HANDLE presence) {
        item_held_at_answer =
            UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, item_name.c_str())).valid();
        SetEvent(presence);
    });
    EXPECT_FALSE(item_held_at_answer);
}

} // namespace
} // namespace watchdog
