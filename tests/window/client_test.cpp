// The client library against the stand-in shell: what it records, how it writes and removes a
// marker, and what it does with a marker that a previous run left behind.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "client/launch.h"
#include "client/marker_file.h"
#include "main/watch.h"
#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"
#include "processes.h"
#include "run_objects.h"
#include "session/run_hold.h"
#include "session/session_lock.h"
#include "shell_lookup.h"
#include "stand_in_desktop.h"
#include "test_files.h"
#include "win/unique_resource.h"
#include "win/utf.h"
#include "win/window_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
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

// What record_desktop recorded, as a marker holds it.
std::expected<RecoveryMarker, client::Error> record(ClientScene& scene, client::Items items,
                                                    std::string_view session = "s") {
    auto recorded = on_desktop(
        scene.ground, [&] { return client::record_desktop(scene.marker, items, session); });
    if (!recorded) {
        return std::unexpected(recorded.error());
    }
    return (*recorded)->marker;
}

TaskbarWindowRecoveryState plain(HWND window, DWORD ex_style) {
    return {.hwnd = window_handle_value(window), .ex_style = static_cast<std::int32_t>(ex_style)};
}

// Whether the run of `session` at `marker` is alive.
bool alive(const std::wstring& marker, const std::string& session) {
    return look_for_presence(testing::run_key(marker, session)).holder == NameHolder::a_run;
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
    EXPECT_EQ(taskbar.error().code, client::Code::failed);
    EXPECT_TRUE(taskbar.error().message.starts_with("未找到 Windows 系统任务栏: "))
        << taskbar.error().message;

    // Nothing known to record, or no session to record it for: refused before anything is read.
    for (const auto& [items, session] :
         {std::pair{client::Items{4}, "s"}, std::pair{client::Items::desktop_icons, ""}}) {
        const auto refused = record(scene, items, session);
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error().code, client::Code::invalid_argument) << refused.error().message;
    }
}

// --- Writing and removing the marker --------------------------------------------------------

std::vector<std::wstring> files_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const testing::UniqueFileSearch search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
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

// A run's first marker never replaces another one, which may be another instance's that won
// the race: nothing is written and the session is not kept in force.
TEST(ClientWrite, AFirstMarkerIsNeverMovedOverAnotherOne) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, "another instance's marker");
    const std::string session = client::new_session_id();

    const auto written = client::write_marker(marker, RecoveryMarker{1, session, {}, {}});

    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().code, client::Code::marker_unsettled) << written.error().message;
    EXPECT_EQ(read_file(marker), "another instance's marker");
    EXPECT_EQ(files_in(folder.path), std::vector<std::wstring>{L"marker.json"});
    EXPECT_FALSE(alive(marker, session));
}

// The run's own marker again, as an application that records anew rewrites it.
struct Rewrite {
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\marker.json";
    std::string session = client::new_session_id();
    RecoveryMarker first{1, session, {}, {}};
    RecoveryMarker second{1, session, DesktopIconRecovery{true}, {}};
};

TEST(ClientWrite, ARewriteThatFailsHalfwayLeavesTheOldMarkerAndNoTemporaryFile) {
    Rewrite run;
    ASSERT_TRUE(client::write_marker(run.marker, run.first));
    const std::optional<std::string> old = read_file(run.marker);
    // Held open without delete sharing, the old marker cannot be replaced: the new one is
    // written in full and then fails to move over it.
    UniqueHandle holder(CreateFileW(run.marker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    const auto written = client::write_marker(run.marker, run.second);
    holder.reset();

    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().message.find("写入恢复标记失败: " + utf16_to_utf8(run.marker) + ": "),
              0u)
        << written.error().message;
    EXPECT_EQ(read_file(run.marker), old);
    EXPECT_EQ(files_in(run.folder.path), std::vector<std::wstring>{L"marker.json"});
    // The run's first marker is still there, and so is the run.
    EXPECT_TRUE(alive(run.marker, run.session));
    EXPECT_EQ(code_of(client::finish_cleanly(run.marker, run.session)), std::nullopt);
}

// A watcher making sure it deletes only the marker it read holds it for moments: the rewrite
// tries again meanwhile.
TEST(ClientWrite, AMarkerHeldForAMomentIsStillRewritten) {
    Rewrite run;
    ASSERT_TRUE(client::write_marker(run.marker, run.first));
    UniqueHandle holder(CreateFileW(run.marker.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    std::thread release_soon([&holder] {
        Sleep(100);
        holder.reset();
    });

    const auto written = client::write_marker(run.marker, run.second);
    release_soon.join();

    EXPECT_TRUE(written.has_value()) << written.error().message;
    EXPECT_EQ(parse_recovery_marker(read_file(run.marker).value_or("")), run.second);
    EXPECT_EQ(code_of(client::finish_cleanly(run.marker, run.session)), std::nullopt);
}

struct FinishCase {
    const char* name;
    std::optional<std::string> marker; // none: no marker
    std::optional<client::Code> finished;
    bool marker_left;
    const wchar_t* marker_name = L"marker.json";
};

TEST(ClientFinish, RemovesTheMarkerOnlyWhileItHoldsThisSession) {
    const FinishCase cases[] = {
        {"this session's", R"({"version":1,"sessionId":"this"})", std::nullopt, false},
        {"another session's", R"({"version":1,"sessionId":"next"})", client::Code::other_session,
         true},
        {"unparsable, so nobody's to remove", "{\"version\":1,", client::Code::other_session, true},
        {"none", std::nullopt, client::Code::no_marker, false},
        {"not even its folder", std::nullopt, client::Code::no_marker, false,
         L"missing\\marker.json"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TempDirectory folder;
        const std::wstring marker = folder.path + L"\\" + row.marker_name;
        if (row.marker) {
            write_file(marker, *row.marker);
        }
        EXPECT_EQ(code_of(client::finish_cleanly(marker, "this")), row.finished);
        EXPECT_EQ(file_exists(marker), row.marker_left);
    }
}

// From writing the marker until finishing, this process keeps the session alive.
TEST(ClientFinish, TheSessionIsAliveFromTheWriteUntilTheFinish) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const std::string session = client::new_session_id();
    EXPECT_NE(session, client::new_session_id());
    EXPECT_FALSE(alive(marker, session));
    ASSERT_TRUE(client::write_marker(marker, RecoveryMarker{1, session, {}, {}}));
    EXPECT_TRUE(alive(marker, session));
    EXPECT_EQ(code_of(client::finish_cleanly(marker, session)), std::nullopt);
    EXPECT_FALSE(alive(marker, session));
}

// A marker that cannot be removed keeps its run in force; an object of another kind under the
// session's presence name keeps a marker from being written at all.
TEST(ClientFinish, TheRunStaysInForceUntilItsMarkerIsGone) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const std::string session = client::new_session_id();
    ASSERT_TRUE(client::write_marker(marker, RecoveryMarker{1, session, {}, {}}));
    UniqueHandle holder(CreateFileW(marker.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(client::finish_cleanly(marker, session).has_value());
    EXPECT_TRUE(alive(marker, session));
    holder.reset();
    EXPECT_EQ(code_of(client::finish_cleanly(marker, session)), std::nullopt);
    EXPECT_FALSE(alive(marker, session));

    const std::string squatted = client::new_session_id();
    const UniqueHandle squatter(
        CreateMutexW(nullptr, FALSE,
                     testing::run_object_name(L"run", testing::run_key(marker, squatted)).c_str()));
    const auto written = client::write_marker(marker, RecoveryMarker{1, squatted, {}, {}});
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().code, client::Code::failed);
    EXPECT_TRUE(written.error().message.starts_with("无法标记会话仍在运行: "))
        << written.error().message;
    EXPECT_FALSE(file_exists(marker));
}

// --- A marker left behind ------------------------------------------------------------------

// A session of an application's own choosing, as the guide's by-hand section shows one; each
// test process has its own, since tests run side by side and a run's liveness is system-wide.
const std::string by_hand_session = "3f2a9c4e-session-" + std::to_string(GetCurrentProcessId());

std::string icons_marker(const std::string& session) {
    return serialize_marker(RecoveryMarker{1, session, DesktopIconRecovery{true}, {}},
                            MarkerForm::object);
}

TEST(ClientSettle, ALeftMarkerIsRestoredLikeTheWatcherWouldHaveAndThenRecordingGoesOn) {
    ClientScene scene;
    HWND icons = add_icons(scene, false);
    write_file(scene.marker, icons_marker(by_hand_session));

    const auto before = record(scene, client::Items::desktop_icons);
    const auto settled =
        on_desktop(scene.ground, [&] { return client::settle_leftover_marker(scene.marker); });
    const auto after = record(scene, client::Items::desktop_icons);

    ASSERT_FALSE(before.has_value()) << "recorded over an unsettled marker";
    EXPECT_EQ(before.error().code, client::Code::marker_unsettled);
    EXPECT_EQ(code_of(settled), std::nullopt) << settled.error().message;
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
    ASSERT_FALSE(settled.has_value());
    EXPECT_EQ(settled.error().code, client::Code::failed);
    EXPECT_EQ(settled.error().message,
              "不支持的系统状态恢复标记版本: 2 (" + utf16_to_utf8(scene.marker) + ")");
    EXPECT_EQ(read_file(scene.marker), unsettleable);

    EXPECT_EQ(code_of(client::discard_leftover_marker(scene.marker)), std::nullopt);
    EXPECT_FALSE(file_exists(scene.marker));
    EXPECT_EQ(log_lines_without_time(scene.log),
              (std::vector<std::string>{"[watchdog] 不支持的系统状态恢复标记版本: 2",
                                        "[client] 已按调用方要求丢弃恢复标记: earlier"}));
    EXPECT_EQ(code_of(client::discard_leftover_marker(scene.marker)), client::Code::no_marker);
    EXPECT_EQ(
        code_of(client::discard_leftover_marker(scene.folder.path + L"\\missing\\marker.json")),
        client::Code::no_marker);
    EXPECT_TRUE(record(scene, client::Items::desktop_icons).has_value());
}

// Another run, played by a thread of this test: it holds what a watcher or a main application
// would hold, and lets go when it is told to or when its time is up, having removed the marker
// first if it is a watcher that restores it.
struct OtherRun {
    enum class Holds {
        nothing,
        session_lock,
        abandoned_lock,
        presence,
        presence_of_other_rights, // an instance that may not be opened (elevated, say)
        lock_name,
        presence_name,
    };
    std::string session;
    Holds holds = Holds::nothing;
    DWORD lets_go_after_ms = INFINITE;
    bool restores_marker = false;   // deletes it before letting go, as a watcher's restore does
    bool at_another_marker = false; // the same session id, for a marker in another folder
};

// Holds what `run` says on a thread of its own until destroyed (or its time is up).
struct HeldByAnotherRun {
    UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle kept; // kept open after the thread: an abandoned mutex, an object in the way
    std::thread thread;

    HeldByAnotherRun(const OtherRun& run, const std::wstring& marker) {
        const SessionKey key =
            testing::run_key(run.at_another_marker ? marker + L".elsewhere" : marker, run.session);
        // Another kind of object under the lock's or the presence's name.
        if (run.holds == OtherRun::Holds::lock_name) {
            kept.reset(CreateEventW(nullptr, TRUE, FALSE,
                                    testing::run_object_name(L"session", key).c_str()));
        }
        if (run.holds == OtherRun::Holds::presence_name) {
            kept.reset(CreateMutexW(nullptr, FALSE, testing::run_object_name(L"run", key).c_str()));
        }
        if (run.holds == OtherRun::Holds::presence_of_other_rights) {
            kept = testing::event_nobody_may_open(testing::run_object_name(L"run", key));
        }
        if (kept || run.holds == OtherRun::Holds::nothing) {
            return;
        }
        std::promise<void> holding;
        thread =
            std::thread([this, run, key, marker, &holding] { hold(run, key, marker, holding); });
        holding.get_future().wait();
        if (run.holds == OtherRun::Holds::abandoned_lock) {
            thread.join(); // its owner gone, the mutex is abandoned before anybody waits for it
        }
    }
    void hold(const OtherRun& run, const SessionKey& key, const std::wstring& marker,
              std::promise<void>& holding) {
        auto lock = lock_session(key, std::chrono::milliseconds(0));
        RunHold presence;
        if (run.holds == OtherRun::Holds::presence) {
            lock = std::unexpected(NameState{});
            presence = hold_run(key, {}, ItemClaim::beside_others).value();
        } else if (run.holds == OtherRun::Holds::abandoned_lock) {
            kept = std::move(lock->mutex);
        }
        holding.set_value();
        if (run.holds != OtherRun::Holds::abandoned_lock) {
            WaitForSingleObject(release.get(), run.lets_go_after_ms);
        }
        if (run.restores_marker) {
            DeleteFileW(marker.c_str());
        }
    }
    ~HeldByAnotherRun() {
        SetEvent(release.get());
        if (thread.joinable()) {
            thread.join();
        }
    }
};

enum class LeftAs { marker, folder, held_exclusively };

struct SettleCase {
    const char* name;
    OtherRun other;
    std::optional<client::Code> settled; // none: restored
    LeftAs left = LeftAs::marker;
    std::chrono::milliseconds wait{200};
};

UniqueHandle leave_marker(const ClientScene& scene, LeftAs left) {
    if (left == LeftAs::folder) {
        CreateDirectoryW(scene.marker.c_str(), nullptr);
        return {};
    }
    write_file(scene.marker, icons_marker(by_hand_session));
    if (left != LeftAs::held_exclusively) {
        return {};
    }
    return UniqueHandle(CreateFileW(scene.marker.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::vector<SettleCase> settle_cases() {
    using Holds = OtherRun::Holds;
    const std::string reused_id =
        "ssw1-" + std::to_string(GetCurrentProcessId()) + "-0000000000000001-0000000000000001";
    const auto left = client::Code::left_to_live_run;
    const auto failed = client::Code::failed;
    const std::optional<client::Code> restored;
    const std::chrono::milliseconds long_wait(5000);
    return {
        {"its application is alive", {by_hand_session, Holds::presence}, left},
        {"its application runs with other rights",
         {by_hand_session, Holds::presence_of_other_rights},
         left},
        {"its watcher is restoring it", {by_hand_session, Holds::session_lock}, left},
        {"its watcher lets go within the wait",
         {by_hand_session, Holds::session_lock, 100},
         restored,
         LeftAs::marker,
         long_wait},
        {"its watcher restores it within the wait",
         {by_hand_session, Holds::session_lock, 100, true},
         client::Code::no_marker,
         LeftAs::marker,
         long_wait},
        {"its watcher ended while restoring", {by_hand_session, Holds::abandoned_lock}, restored},
        {"another session's lock is held", {"another session", Holds::session_lock}, restored},
        {"another session is alive", {"another session", Holds::presence}, restored},
        {"a session id naming this live process, its run gone", {reused_id}, restored},
        {"a lock that cannot be created", {by_hand_session, Holds::lock_name}, failed},
        {"another kind of object under the presence's name",
         {by_hand_session, Holds::presence_name},
         failed},
        {"the same session id alive at another marker",
         {by_hand_session, Holds::presence, INFINITE, false, true},
         restored},
        {"a folder at the marker path", {}, failed, LeftAs::folder},
        {"a marker held exclusively", {}, failed, LeftAs::held_exclusively},
    };
}

// A marker is left to its run while anything of that run is alive, whatever its session id
// looks like, and settled once nothing is.
TEST(ClientSettle, LeavesALiveRunsMarkerAloneAndSettlesItOnceNothingOfTheRunIsLeft) {
    for (const auto& row : settle_cases()) {
        SCOPED_TRACE(row.name);
        ClientScene scene;
        HWND icons = add_icons(scene, false);
        const UniqueHandle holder = leave_marker(scene, row.left);
        const std::optional<std::string> bytes = read_file(scene.marker);
        const HeldByAnotherRun other(row.other, scene.marker);

        const auto settled = on_desktop(
            scene.ground, [&] { return client::settle_leftover_marker(scene.marker, row.wait); });

        EXPECT_EQ(code_of(settled), row.settled) << (settled ? "settled" : settled.error().message);
        if (row.settled && row.settled != client::Code::no_marker) {
            EXPECT_EQ(read_file(scene.marker), bytes);
        }
        EXPECT_EQ(on_shell(scene.ground, [&] { return IsWindowVisible(icons) != FALSE; }),
                  settled.has_value());
        if (row.settled == client::Code::left_to_live_run) {
            const auto discarded = client::discard_leftover_marker(scene.marker);
            ASSERT_FALSE(discarded.has_value());
            EXPECT_EQ(discarded.error().code, client::Code::left_to_live_run);
        }
    }
}

// A run is alive to a restart that would wait for its watcher while anything of it holds its
// presence, whatever rights that runs with.
TEST(ClientSettle, ALeftMarkersRunIsAliveWhileAnythingOfItIs) {
    using Holds = OtherRun::Holds;
    const std::pair<Holds, bool> cases[] = {
        {Holds::nothing, false},
        {Holds::presence, true},
        {Holds::presence_of_other_rights, true},
        {Holds::session_lock, false},
    };
    for (const auto& [holds, alive] : cases) {
        SCOPED_TRACE(static_cast<int>(holds));
        TempDirectory folder;
        const std::wstring marker = folder.path + L"\\marker.json";
        write_file(marker, R"({"version":1,"sessionId":")" + by_hand_session + R"("})");
        const HeldByAnotherRun other({by_hand_session, holds}, marker);
        EXPECT_EQ(client::leftover_run_alive(marker), alive);
    }
}

// A settle that holds the session's lock may be restoring already: the watcher waits for it,
// and then finds the marker gone.
TEST(ClientSettle, AWatcherWaitsForASettleThatHoldsTheLock) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, R"({"version":1,"sessionId":"s"})");
    const HeldByAnotherRun settling({"s", OtherRun::Holds::session_lock, 100, true}, marker);

    BoundedWorker worker;
    EXPECT_EQ(conclude_watch(WaitOutcome::main_process_ended, marker, testing::run_key(marker, "s"),
                             {}, worker, std::chrono::milliseconds(5000)),
              ExitCode::Success);
    EXPECT_FALSE(file_exists(folder.path + L"\\logs\\system-state-recovery.log"));
}

// The C API's settle waits for a watcher as long as the C++ one does.
TEST(ClientSettle, TheCApiWaitsForAWatcherThatIsRestoring) {
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    write_file(marker, R"({"version":1,"sessionId":")" + by_hand_session + R"("})");
    const HeldByAnotherRun watcher({by_hand_session, OtherRun::Holds::session_lock, 200}, marker);

    EXPECT_EQ(ssw_settle_leftover_marker(utf16_to_utf8(marker).c_str(), nullptr, 0), SSW_OK);
    EXPECT_FALSE(file_exists(marker));
}

// --- A start at logon -----------------------------------------------------------------------

const std::string crashed_run_marker =
    R"({"version":1,"sessionId":"crashed","desktopIcons":{"originalVisible":true},)"
    R"("taskbar":{"appbar_state":2,"windows":[]}})";

// A start at logon may come before the shell has put up its windows: a protection, and the
// settle of the previous run's marker it makes first, wait for them within their bound, 10 s
// unless the caller says otherwise, in C++ and in C alike.
TEST(ClientAtLogon, AProtectionAndASettleWaitForTheShellToComeUp) {
    const struct {
        const char* name;
        std::function<bool(const std::wstring& marker)> call; // whether it succeeded
    } cases[] = {
        {"protect_desktop",
         [](const std::wstring& marker) {
             auto protection = client::protect_desktop(marker, client::Items::both);
             return protection && client::end_protection(std::move(*protection)).has_value();
         }},
        {"ssw_protect_desktop",
         [](const std::wstring& marker) {
             ssw_protection* protection = nullptr;
             return ssw_protect_desktop(utf16_to_utf8(marker).c_str(),
                                        SSW_ITEM_TASKBAR | SSW_ITEM_DESKTOP_ICONS, nullptr,
                                        &protection, nullptr, 0) == SSW_OK &&
                    ssw_end_protection(protection, nullptr, 0) == SSW_OK;
         }},
        {"ssw_settle_leftover_marker_within, no wait for a watcher",
         [](const std::wstring& marker) {
             return ssw_settle_leftover_marker_within(utf16_to_utf8(marker).c_str(), 0, nullptr,
                                                      0) == SSW_OK;
         }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ClientScene scene;
        write_file(scene.marker, crashed_run_marker);
        HWND icons = nullptr;
        std::thread shell([&] {
            Sleep(400);
            add_taskbar(scene, {.kind = TaskbarKind::primary});
            icons = add_icons(scene, false);
        });
        const bool succeeded = on_desktop(scene.ground, [&] { return row.call(scene.marker); });
        shell.join();
        EXPECT_TRUE(succeeded);
        EXPECT_TRUE(on_shell(scene.ground, [&] { return IsWindowVisible(icons) != FALSE; }))
            << "the previous run's marker was not settled";
    }
}

// A shell that never comes up fails a settle after its bound, saying what did not appear; a start
// that tries again and again logs it once.
TEST(ClientAtLogon, AShellThatNeverComesUpIsSaidAndLoggedOnce) {
    ClientScene scene;
    write_file(scene.marker, crashed_run_marker);
    const std::string path = utf16_to_utf8(scene.marker);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::array<char, 512> message{};
        const auto start = std::chrono::steady_clock::now();
        const ssw_status status = on_desktop(scene.ground, [&] {
            return ssw_settle_leftover_marker_waiting(path.c_str(), 0, 300, message.data(),
                                                      message.size());
        });
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_EQ(status, SSW_FAILED);
        EXPECT_EQ(std::string(message.data()), "Windows 任务栏在 0.3 秒内未出现 (" + path + ")");
    }
    EXPECT_EQ(read_file(scene.marker), crashed_run_marker);
    EXPECT_EQ(log_lines_without_time(scene.log),
              std::vector<std::string>{"[client] Windows 任务栏在 0.3 秒内未出现"});
    add_taskbar(scene, {.kind = TaskbarKind::primary});
    const auto icons_missing = on_desktop(scene.ground, [&] {
        return client::record_desktop(scene.folder.path + L"\\new.json", client::Items::both, "s",
                                      std::chrono::milliseconds(200));
    });
    ASSERT_FALSE(icons_missing.has_value());
    EXPECT_EQ(icons_missing.error().message, "Windows 桌面图标窗口在 0.2 秒内未出现");
}

// --- Starting the watchdog -----------------------------------------------------------------

struct LauncherCase {
    const char* name;
    std::wstring executable;
    const wchar_t* exit_code; // what the stand-in launcher ends with
    std::optional<client::Code> refused;
    std::uint32_t launcher_exit_code = 0;
    std::string_view message_start = {};
};

// A working folder that holds a program named like the watchdog, as a download folder may: a
// stand-in launcher that would report a watcher started.
struct PlantedFolder {
    TempDirectory folder;
    std::wstring previous = std::wstring(MAX_PATH, L'\0');

    PlantedFolder() {
        previous.resize(GetCurrentDirectoryW(MAX_PATH, previous.data()));
        CopyFileW(sibling_executable(L"stand-in-main.exe").c_str(),
                  (folder.path + L"\\system-state-watchdog.exe").c_str(), TRUE);
        SetCurrentDirectoryW(folder.path.c_str());
    }
    PlantedFolder(const PlantedFolder&) = delete;
    PlantedFolder& operator=(const PlantedFolder&) = delete;
    ~PlantedFolder() { SetCurrentDirectoryW(previous.c_str()); }
};

constexpr std::string_view relative_refused =
    "系统状态看门狗的路径必须是完整路径，不能是相对路径: ";

std::vector<LauncherCase> launcher_cases(const TempDirectory& folder) {
    const std::wstring stand_in = sibling_executable(L"stand-in-main.exe");
    return {
        {"a relative path, to a program in the working folder", L"system-state-watchdog.exe", L"0",
         client::Code::invalid_argument, 0, relative_refused},
        {"a path relative to the current drive", L"\\system-state-watchdog.exe", L"0",
         client::Code::invalid_argument, 0, relative_refused},
        {"a path relative to a drive's current folder", L"C:system-state-watchdog.exe", L"0",
         client::Code::invalid_argument, 0, relative_refused},
        {"no such program", folder.path + L"\\missing.exe", nullptr,
         client::Code::launcher_not_started, 0, "无法启动系统状态看门狗: "},
        {"the launcher refuses its arguments", stand_in, L"2", client::Code::launcher_failed, 2,
         "系统状态看门狗拒绝了启动参数 (退出码 2): "},
        {"the launcher cannot read its own path", stand_in, L"3", client::Code::launcher_failed, 3,
         "系统状态看门狗无法取得自身路径 (退出码 3): "},
        {"the launcher cannot create the watcher", stand_in, L"4", client::Code::launcher_failed, 4,
         "系统状态看门狗未能创建监视进程 (退出码 4): "},
        {"an exit code the watchdog never uses", stand_in, L"64", client::Code::launcher_failed, 64,
         "系统状态看门狗启动器以意外的退出码结束: "},
        {"the watchdog", sibling_executable(L"system-state-watchdog.exe"), nullptr, std::nullopt},
    };
}

// The watchers that the successful starts leave wait for this test process, and find no marker
// then.
TEST(ClientStart, SaysWhichWayTheLaunchWentAndWhichProgramItWas) {
    const PlantedFolder planted;
    TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    for (const auto& row : launcher_cases(folder)) {
        SCOPED_TRACE(row.name);
        SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", row.exit_code);
        const auto started = client::start_watchdog(row.executable, "s", marker);
        ASSERT_EQ(started.has_value(), !row.refused);
        if (started) {
            continue;
        }
        EXPECT_EQ(started.error().code, *row.refused);
        EXPECT_EQ(started.error().launcher_exit_code, row.launcher_exit_code);
        EXPECT_EQ(started.error().message.find(std::string(row.message_start) +
                                               utf16_to_utf8(row.executable)),
                  0u)
            << started.error().message;
    }
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
    const auto empty =
        client::start_watchdog(sibling_executable(L"system-state-watchdog.exe"), "", marker);
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().code, client::Code::invalid_argument);
}

// The launcher inherits none of the application's handles, inheritable or not.
TEST(ClientStart, TheLauncherInheritsNothing) {
    TempDirectory folder;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const UniqueHandle handle(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    const std::wstring report = folder.path + L"\\handle.txt";
    SetEnvironmentVariableW(
        L"STAND_IN_LAUNCHER_HANDLE",
        std::to_wstring(reinterpret_cast<std::uintptr_t>(handle.get())).c_str());
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_HANDLE_REPORT", report.c_str());
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", L"0");
    const auto started = client::start_watchdog(sibling_executable(L"stand-in-main.exe"), "s",
                                                folder.path + L"\\marker.json");
    for (const wchar_t* name : {L"STAND_IN_LAUNCHER_HANDLE", L"STAND_IN_LAUNCHER_HANDLE_REPORT",
                                L"STAND_IN_LAUNCHER_EXIT_CODE"}) {
        SetEnvironmentVariableW(name, nullptr);
    }
    EXPECT_TRUE(started.has_value());
    EXPECT_EQ(read_file(report), "not inherited");
}

// Whatever was started in the launcher's place, it is not left running.
TEST(ClientStart, ALauncherThatDoesNotEndIsEnded) {
    TempDirectory folder;
    const std::wstring stand_in = sibling_executable(L"stand-in-main.exe");
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t before = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", L"never");
    const auto started = client::start_watchdog_within(
        stand_in, "s", folder.path + L"\\marker.json", std::chrono::milliseconds(300));
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);

    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error().code, client::Code::launcher_failed);
    EXPECT_EQ(started.error().message,
              "系统状态看门狗启动器在半分钟内没有结束，已将其终止: " + utf16_to_utf8(stand_in));
    EXPECT_EQ(child_process_ids(GetCurrentProcessId(), before), std::vector<DWORD>{})
        << "the launcher runs on";
}

// A start that may have left a watcher (one that succeeded, a launcher that did not end and was
// ended) is noted, so that the clean end asks that watcher to stand down and holds the request
// for it; one that failed is not, and the end does not wait for a watcher nobody started.
TEST(ClientStart, AStartThatMayHaveLeftAWatcherIsNoted) {
    const std::wstring stand_in = sibling_executable(L"stand-in-main.exe");
    const struct {
        const char* name;
        const wchar_t* exit_code;
        bool noted;
    } cases[] = {
        {"started", L"0", true}, {"ended for not ending", L"never", true}, {"failed", L"4", false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TempDirectory folder;
        const std::wstring marker = folder.path + L"\\marker.json";
        const std::string session = client::new_session_id();
        ASSERT_TRUE(client::write_marker(marker, RecoveryMarker{1, session, {}, {}}));
        SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", row.exit_code);
        static_cast<void>(client::start_watchdog_within(stand_in, session, marker,
                                                        std::chrono::milliseconds(300)));
        SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
        ASSERT_EQ(code_of(client::finish_cleanly(marker, session)), std::nullopt);
        const auto request = open_run_end(testing::run_key(marker, session));
        ASSERT_TRUE(request.has_value());
        // Made for a watcher that may look more than once, or late: a look does not take it.
        for (int look = 0; look < 2; ++look) {
            EXPECT_EQ(WaitForSingleObject(request->get(), 0) == WAIT_OBJECT_0, row.noted);
        }
    }
}

// The watcher's current folder need not be the application's: it gets the marker's full path.
TEST(ClientStart, PassesTheMarkersFullPath) {
    TempDirectory folder;
    const std::wstring report = folder.path + L"\\launcher arguments.txt";
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_MARKER_REPORT", report.c_str());
    static_cast<void>(
        client::start_watchdog(sibling_executable(L"stand-in-main.exe"), "s", L"state\\m.json"));
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_MARKER_REPORT", nullptr);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(read_file(report), utf16_to_utf8(std::wstring(current) + L"\\state\\m.json"));
}

// --- Protection in one call ----------------------------------------------------------------

TEST(ClientProtect, ProtectsInOneCallAndPutsTheDesktopBackOnTheCleanExit) {
    ClientScene scene;
    HWND icons = add_icons(scene, true);
    auto protection = on_desktop(scene.ground, [&] {
        return client::protect_desktop(scene.marker, client::Items::desktop_icons);
    });
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    EXPECT_EQ(parse_recovery_marker(read_file(scene.marker).value_or("")),
              (RecoveryMarker{1, protection->session_id(), DesktopIconRecovery{true}, {}}));
    EXPECT_TRUE(alive(scene.marker, protection->session_id()));

    on_shell(scene.ground, [&] { ShowWindow(icons, SW_HIDE); });
    const auto ended =
        on_desktop(scene.ground, [&] { return client::end_protection(std::move(*protection)); });

    EXPECT_TRUE(ended.has_value()) << ended.error().message;
    EXPECT_TRUE(on_shell(scene.ground, [&] { return IsWindowVisible(icons) != FALSE; }));
    EXPECT_FALSE(file_exists(scene.marker));
}

const std::string icons_only_marker =
    R"({"version":1,"sessionId":"crashed","desktopIcons":{"originalVisible":true}})";

// A marker without a watcher would make the next start "restore" a desktop never changed.
TEST(ClientProtect, AFailedProtectionLeavesNoMarkerBehind) {
    const PlantedFolder planted;
    ClientScene scene;
    ASSERT_TRUE(add_icons(scene, true));
    for (const auto& row : launcher_cases(scene.folder)) {
        if (!row.refused) {
            continue;
        }
        SCOPED_TRACE(row.name);
        // A path refused as relative is refused before anything is read or written: a marker
        // left behind is not settled by a protection that cannot start.
        const bool refused_first = row.refused == client::Code::invalid_argument;
        if (refused_first) {
            write_file(scene.marker, icons_only_marker);
        }
        SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", row.exit_code);
        const auto start = std::chrono::steady_clock::now();
        const auto protection = on_desktop(scene.ground, [&] {
            return client::protect_desktop(scene.marker, client::Items::desktop_icons,
                                           row.executable);
        });
        // A launcher that ended with an error started no watcher: none is waited for (5 s).
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        ASSERT_FALSE(protection.has_value());
        EXPECT_EQ(protection.error().code, *row.refused);
        EXPECT_EQ(read_file(scene.marker),
                  refused_first ? std::optional<std::string>(icons_only_marker) : std::nullopt);
        DeleteFileW(scene.marker.c_str());
    }
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
    EXPECT_EQ(code_of(client::settle_leftover_marker(scene.marker)), client::Code::no_marker);
    EXPECT_FALSE(file_exists(scene.log));
}

} // namespace
} // namespace watchdog::testing
