// The client library against the stand-in shell: what it records, how it writes and removes a
// marker, and what it does with a marker that a previous run left behind.

#include <system_state_watchdog/client.hpp>

#include "client/session.h"
#include "marker/recovery_marker.h"
#include "processes.h"
#include "restore/session_lock.h"
#include "shell_lookup.h"
#include "stand_in_desktop.h"
#include "test_files.h"
#include "win/unique_resource.h"
#include "win/window_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace watchdog::testing {
namespace {

namespace client = watchdog::client;

struct ClientScene {
    StandInDesktop ground;
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\marker.json";
    std::wstring log = folder.path + L"\\logs\\system-state-recovery.log";
};

HWND add_taskbar(ClientScene& scene, const TaskbarWindowSetup& setup) {
    return on_shell(scene.ground,
                    [&] { return create_taskbar_window(scene.ground.taskbar_log, setup); })
        .value_or(nullptr);
}

HWND add_icons(ClientScene& scene, bool visible) {
    return on_shell(scene.ground, [&] {
        register_desktop_window_classes();
        const auto windows = create_program_manager_icons(scene.ground.icons, visible);
        return windows ? windows->list_view : nullptr;
    });
}

std::expected<RecoveryMarker, client::RecordError> record(ClientScene& scene, client::Items items,
                                                          std::string_view session = "s") {
    return on_desktop(scene.ground,
                      [&] { return client::record_desktop(scene.marker, items, session); });
}

TaskbarWindowRecoveryState plain(HWND window, DWORD ex_style) {
    return {.hwnd = window_handle_value(window), .ex_style = static_cast<std::int32_t>(ex_style)};
}

// --- Recording -------------------------------------------------------------------------------

TEST(ClientRecord, RecordsEveryTaskbarWindowTheAppBarStateAndTheIcons) {
    ClientScene scene;
    const DWORD layered = WS_EX_LAYERED | WS_EX_TOOLWINDOW;
    HWND primary = add_taskbar(scene, {.kind = TaskbarKind::primary});
    HWND with_attributes = add_taskbar(
        scene, {.kind = TaskbarKind::secondary,
                .ex_style = layered,
                .layered = LayeredAttributes{0x00123456, 200, LWA_ALPHA | LWA_COLORKEY}});
    HWND without_attributes =
        add_taskbar(scene, {.kind = TaskbarKind::secondary, .ex_style = layered});
    on_shell(scene.ground, [&] { ASSERT_TRUE(create_app_bar_observer(scene.ground.taskbar_log)); });
    scene.ground.taskbar_log.appbar_state = 3;
    ASSERT_TRUE(add_icons(scene, true));

    const auto recorded = record(scene, client::Items::both, "a session");

    ASSERT_TRUE(recorded.has_value()) << recorded.error().message;
    EXPECT_EQ(recorded->version, 1u);
    EXPECT_EQ(recorded->sessionId, "a session");
    EXPECT_EQ(recorded->desktopIcons, DesktopIconRecovery{true});
    ASSERT_TRUE(recorded->taskbar.has_value());
    EXPECT_EQ(recorded->taskbar->appbar_state, 3u);
    // In the order the restore finds them: the primary, then the secondaries in search order.
    std::vector<TaskbarWindowRecoveryState> expected;
    for (HWND window : on_desktop(scene.ground, [] { return find_shell_taskbars(); })) {
        if (window == with_attributes) {
            expected.push_back({window_handle_value(window), static_cast<std::int32_t>(layered),
                                0x00123456, 200, LWA_ALPHA | LWA_COLORKEY, true});
        } else {
            expected.push_back(plain(window, window == primary ? WS_EX_TOOLWINDOW : layered));
        }
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_NE(std::ranges::find(expected, plain(without_attributes, layered)), expected.end());
    EXPECT_EQ(recorded->taskbar->windows, expected);
}

TEST(ClientRecord, RecordsOnlyTheItemsItIsAskedFor) {
    ClientScene scene;
    ASSERT_TRUE(add_icons(scene, false));

    const auto icons_only = record(scene, client::Items::desktop_icons);
    ASSERT_TRUE(icons_only.has_value()) << icons_only.error().message;
    EXPECT_EQ(icons_only->desktopIcons, DesktopIconRecovery{false});
    EXPECT_FALSE(icons_only->taskbar.has_value());

    // No taskbar on this desktop: a taskbar that cannot be recorded is said so.
    const auto taskbar = record(scene, client::Items::taskbar);
    ASSERT_FALSE(taskbar.has_value());
    EXPECT_EQ(taskbar.error().failure, client::RecordFailure::desktop_not_recorded);
    EXPECT_TRUE(taskbar.error().message.starts_with("未找到 Windows 系统任务栏: "))
        << taskbar.error().message;
}

// --- Writing and removing the marker --------------------------------------------------------

std::vector<std::wstring> files_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const UniqueFileSearch search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (search) {
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                names.emplace_back(entry.cFileName);
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    return names;
}

TEST(ClientWrite, WritesWhatTheWatchdogReads) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const RecoveryMarker written{1, "s \"quoted\"", DesktopIconRecovery{false},
                                 TaskbarRecoverySnapshot{2, {{-5, -1, 7, 255, 2, true}}}};

    ASSERT_TRUE(client::write_marker(marker, written));

    EXPECT_EQ(parse_recovery_marker(read_file(marker).value_or("")), written);
    EXPECT_EQ(files_in(folder.path), std::vector<std::wstring>{L"marker.json"});
}

TEST(ClientWrite, AWriteThatFailsHalfwayLeavesTheOldMarkerAndNoTemporaryFile) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, "the old marker");
    // Held open without delete sharing, the old marker cannot be replaced: the new one is
    // written in full and then fails to move over it.
    UniqueHandle holder(CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    const auto written = client::write_marker(marker, RecoveryMarker{1, "s", {}, {}});
    holder.reset();

    ASSERT_FALSE(written.has_value());
    EXPECT_TRUE(written.error().starts_with("写入恢复标记失败: ")) << written.error();
    EXPECT_EQ(read_file(marker), "the old marker");
    EXPECT_EQ(files_in(folder.path), std::vector<std::wstring>{L"marker.json"});
}

// A watcher making sure it deletes only the marker it read holds it for moments: the write
// tries again meanwhile.
TEST(ClientWrite, AMarkerHeldForAMomentIsStillReplaced) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, "the old marker");
    UniqueHandle holder(CreateFileW(marker.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    std::thread release_soon([&holder] {
        Sleep(100);
        holder.reset();
    });

    const auto written = client::write_marker(marker, RecoveryMarker{1, "s", {}, {}});
    release_soon.join();

    EXPECT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(marker), R"({"version":1,"sessionId":"s"})");
}

struct FinishCase {
    const char* name;
    std::optional<std::string> marker_session; // empty: no marker
    client::Finished finished;
    bool marker_left;
};

TEST(ClientFinish, RemovesTheMarkerOnlyWhileItHoldsThisSession) {
    const FinishCase cases[] = {
        {"this session's", "this", client::Finished::marker_removed, false},
        {"another session's", "next", client::Finished::marker_of_another_session, true},
        {"none", std::nullopt, client::Finished::no_marker, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TempDirectory folder;
        const std::wstring marker = folder.path + L"\\marker.json";
        if (row.marker_session) {
            ASSERT_TRUE(
                client::write_marker(marker, RecoveryMarker{1, *row.marker_session, {}, {}}));
        }
        EXPECT_EQ(client::finish_cleanly(marker, "this"), row.finished);
        EXPECT_EQ(file_exists(marker), row.marker_left);
    }
}

// --- A marker left behind ------------------------------------------------------------------

// The previous run's session: made by the library in a process that has ended since.
std::string ended_run_session() {
    const ChildProcess ended =
        start_process(sibling_executable(L"stand-in-main.exe"), {L"sleep", L"0"});
    wait_for_exit(ended, 20000);
    return "ssw1-" + std::to_string(ended.id) + "-" + std::string(16, '0') + "-0000000000000001";
}

TEST(ClientSettle, ALeftMarkerIsRestoredLikeTheWatcherWouldHaveAndThenRecordingGoesOn) {
    ClientScene scene;
    HWND icons = add_icons(scene, false);
    const std::string previous = ended_run_session();
    ASSERT_TRUE(client::write_marker(scene.marker,
                                     RecoveryMarker{1, previous, DesktopIconRecovery{true}, {}}));

    const auto before = record(scene, client::Items::desktop_icons);
    const auto settled =
        on_desktop(scene.ground, [&] { return client::settle_leftover_marker(scene.marker); });
    const auto after = record(scene, client::Items::desktop_icons);

    ASSERT_FALSE(before.has_value()) << "recorded over an unsettled marker";
    EXPECT_EQ(before.error().failure, client::RecordFailure::marker_unsettled);
    EXPECT_EQ(settled.settled, client::Settled::restored) << settled.message;
    EXPECT_TRUE(on_shell(scene.ground, [&] { return IsWindowVisible(icons) != FALSE; }));
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines_without_time(scene.log),
              std::vector<std::string>{"[restore] 系统状态恢复完成: 桌面图标"});
    ASSERT_TRUE(after.has_value()) << after.error().message;
    EXPECT_EQ(after->desktopIcons, DesktopIconRecovery{true});
}

TEST(ClientSettle, AMarkerThatCannotBeSettledIsLoggedKeptAndDiscardedOnlyOnRequest) {
    ClientScene scene;
    ASSERT_TRUE(add_icons(scene, true));
    const std::string unsettleable = R"({"version":2,"sessionId":"earlier"})";
    write_file(scene.marker, unsettleable);

    const auto settled =
        on_desktop(scene.ground, [&] { return client::settle_leftover_marker(scene.marker); });
    EXPECT_EQ(settled.settled, client::Settled::failed);
    EXPECT_EQ(settled.message, "不支持的系统状态恢复标记版本: 2");
    EXPECT_EQ(read_file(scene.marker), unsettleable);

    EXPECT_EQ(client::discard_leftover_marker(scene.marker), client::Discarded::discarded);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines_without_time(scene.log),
              (std::vector<std::string>{"[watchdog] 不支持的系统状态恢复标记版本: 2",
                                        "[client] 已按调用方要求丢弃恢复标记: earlier"}));
    EXPECT_EQ(client::discard_leftover_marker(scene.marker), client::Discarded::no_marker);
    EXPECT_TRUE(record(scene, client::Items::desktop_icons).has_value());
}

struct LiveRunCase {
    const char* name;
    bool session_of_this_process; // else: a watcher holds the session's lock
};

// A second instance of the application, or a watcher still restoring: the marker is theirs.
TEST(ClientSettle, ALiveRunsMarkerIsLeftAlone) {
    const LiveRunCase cases[] = {{"the run is alive", true}, {"a watcher is restoring it", false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ClientScene scene;
        HWND icons = add_icons(scene, false);
        const std::string session = row.session_of_this_process ? client::new_session_id() : "s";
        const RecoveryMarker left{1, session, DesktopIconRecovery{true}, {}};
        ASSERT_TRUE(client::write_marker(scene.marker, left));
        const std::string bytes = read_file(scene.marker).value();
        // The watcher is another thread holding the session's lock, as a watcher process would.
        std::promise<void> locked;
        const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread watcher([&] {
            const SessionLock lock =
                lock_session(row.session_of_this_process ? "not this one" : session,
                             std::chrono::milliseconds(0));
            locked.set_value();
            WaitForSingleObject(release.get(), INFINITE);
        });
        locked.get_future().wait();

        const auto settled = on_desktop(scene.ground, [&] {
            return client::settle_leftover_marker(scene.marker, std::chrono::milliseconds(200));
        });
        const auto discarded = client::discard_leftover_marker(scene.marker);
        SetEvent(release.get());
        watcher.join();

        EXPECT_EQ(settled.settled, client::Settled::left_to_live_run);
        EXPECT_EQ(discarded, client::Discarded::left_to_live_run);
        EXPECT_EQ(read_file(scene.marker), bytes);
        EXPECT_FALSE(on_shell(scene.ground, [&] { return IsWindowVisible(icons) != FALSE; }));
        EXPECT_FALSE(file_exists(scene.log));
    }
}

// --- Starting the watchdog -----------------------------------------------------------------

TEST(ClientStart, SaysWhichWayTheLaunchWent) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const auto missing = client::start_watchdog(folder.path + L"\\missing.exe", "s", marker);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().failure, client::LaunchFailure::launcher_not_created);
    EXPECT_TRUE(missing.error().message.starts_with("无法启动系统状态看门狗: "));

    // Any other program ends with a code the watchdog never uses.
    const auto other =
        client::start_watchdog(sibling_executable(L"stand-in-main.exe"), "s", marker);
    ASSERT_FALSE(other.has_value());
    EXPECT_EQ(other.error().failure, client::LaunchFailure::unexpected_exit_code);
    EXPECT_EQ(other.error().exit_code, 64u);

    // The watcher it leaves waits for this test process, and finds no marker then.
    const auto started =
        client::start_watchdog(sibling_executable(L"system-state-watchdog.exe"), "s", marker);
    ASSERT_TRUE(started.has_value()) << started.error().message;
    EXPECT_NE(started->launcher_process_id, 0u);
}

TEST(ClientSession, IdsAreNewForEveryRunAndTellWhetherTheirRunIsAlive) {
    const std::string first = client::new_session_id();
    EXPECT_NE(first, client::new_session_id());
    EXPECT_TRUE(client::session_run_is_alive(first)) << first;
    // The same process id with another start time is a process that took over a freed id.
    const std::string pid = std::to_string(GetCurrentProcessId());
    EXPECT_FALSE(client::session_run_is_alive("ssw1-" + pid + "-0000000000000001-0"));
    EXPECT_FALSE(client::session_run_is_alive(ended_run_session()));
    EXPECT_FALSE(client::session_run_is_alive("a session id made otherwise"));
}

} // namespace
} // namespace watchdog::testing
