// Protections in force, as a long-running host and other instances meet them: protections
// switched on and off, a current folder that changes, starts that race, items protected twice,
// and protections ended twice.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "client/marker_file.h"
#include "main/watch.h"
#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"
#include "processes.h"
#include "run_objects.h"
#include "session/run_hold.h"
#include "session/session_lock.h"
#include "stand_in_desktop.h"
#include "test_files.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>

// Every allocation of this test program counted, so that a test can see memory that a call
// keeps. Nothing else changes: the memory comes from malloc, as the default's does.
namespace {
std::atomic<long> live_allocations{0};
} // namespace

void* operator new(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    ++live_allocations;
    return memory;
}
void operator delete(void* memory) noexcept {
    if (memory != nullptr) {
        --live_allocations;
        std::free(memory);
    }
}
void operator delete(void* memory, std::size_t) noexcept {
    operator delete(memory);
}

namespace watchdog::testing {
namespace {

namespace client = watchdog::client;
using client::Items;

// A desktop with a taskbar and shown icons, and a folder for markers.
struct RunScene {
    StandInDesktop ground;
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\marker.json";
    HWND icons = nullptr;

    RunScene() {
        on_shell(ground, [&] {
            create_taskbar_window(ground.taskbar_log, {.kind = TaskbarKind::primary});
            register_desktop_window_classes();
            const auto windows = create_program_manager_icons(ground.icons, true);
            icons = windows ? windows->list_view : nullptr;
        });
    }
};

// Under load Wine now and then fails the launcher's creation of the watcher (the launcher ends
// with exit code 4, as it must): the platform's failure, so the protection is made again, twice
// at most.
std::expected<client::Protection, client::Error> protect(const RunScene& scene, Items items,
                                                         const std::wstring& marker) {
    for (int attempt = 0;; ++attempt) {
        auto protection =
            on_desktop(scene.ground, [&] { return client::protect_desktop(marker, items); });
        if (protection || protection.error().launcher_exit_code != 4 || attempt == 2) {
            return protection;
        }
    }
}

std::expected<void, client::Error> end(const RunScene& scene, client::Protection& protection) {
    return on_desktop(scene.ground, [&] { return client::end_protection(std::move(protection)); });
}

template <typename Condition> bool within(DWORD milliseconds, Condition condition) {
    const ULONGLONG until = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() > until) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool named_event_exists(const std::wstring& name) {
    return UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, name.c_str())).valid();
}

// A host that switches protection on and off keeps no watcher per protection: each watcher,
// once it waits (it holds its run's end request), lets go of its run within a second of the
// clean end.
TEST(ClientRuns, ProtectAndEndCyclesLeaveNoWatcherBehind) {
    RunScene scene;
    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        auto protection = protect(scene, Items::both, scene.marker);
        ASSERT_TRUE(protection.has_value()) << protection.error().message;
        const SessionKey key = run_key(scene.marker, protection->session_id());
        ASSERT_TRUE(within(10000, [&] { return named_event_exists(run_object_name(L"end", key)); }))
            << "no watcher waits";

        // Its items are free the moment the end returns: the host may protect them again.
        const auto [ended, items_free] = on_desktop(scene.ground, [&] {
            const bool done = client::end_protection(std::move(*protection)).has_value();
            const GuardedItem both[] = {GuardedItem::taskbar, GuardedItem::desktop_icons};
            return std::pair(done,
                             hold_run({L"ANOTHER RUN", "s"}, both, ItemClaim::alone).has_value());
        });
        ASSERT_TRUE(ended);
        EXPECT_TRUE(items_free);
        EXPECT_TRUE(
            within(1000, [&] { return look_for_presence(key).holder == NameHolder::nobody; }));
        EXPECT_FALSE(named_event_exists(run_object_name(L"end", key)));
        EXPECT_FALSE(file_exists(scene.marker));
    }
    EXPECT_FALSE(file_exists(scene.folder.path + L"\\logs\\system-state-recovery.log"));
}

// A watcher still starting when the run ends cleanly: the end waits for its answer a while, then
// keeps the request set for it, and lets go once a late watcher has answered.
TEST(ClientRuns, AWatcherThatHasNotAnsweredFindsTheRequestWhenItComes) {
    RunScene scene;
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", L"0"); // a launcher without a watcher
    auto protection = on_desktop(scene.ground, [&] {
        return client::protect_desktop(scene.marker, Items::desktop_icons,
                                       sibling_executable(L"stand-in-main.exe"));
    });
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    const SessionKey key = run_key(scene.marker, protection->session_id());

    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(end(scene, *protection).has_value());
    EXPECT_GE(GetTickCount64() - start, 4500u) << "the end did not wait for the watcher";

    // Another protection in between looks at what is kept for unanswered watchers: a request
    // that has waited seconds, not minutes, is kept.
    auto between = protect(scene, Items::taskbar, scene.folder.path + L"\\between.json");
    ASSERT_TRUE(between.has_value()) << between.error().message;
    ASSERT_TRUE(end(scene, *between).has_value());
    const auto late_request = open_run_end(key);
    ASSERT_TRUE(late_request.has_value());
    EXPECT_EQ(WaitForSingleObject(late_request->get(), 0), WAIT_OBJECT_0);
    {
        const auto presence = hold_run(key, {}, ItemClaim::beside_others);
        ASSERT_TRUE(presence.has_value());
        announce_stood_down(presence->presence.get());
        // The next start looks at what it kept for the watchers of ended runs.
        auto next = protect(scene, Items::desktop_icons, scene.marker);
        ASSERT_TRUE(next.has_value()) << next.error().message;
        ASSERT_TRUE(end(scene, *next).has_value());
    }
    EXPECT_EQ(look_for_presence(key).holder, NameHolder::nobody);
}

// The current folder changes under an application (file dialogs change it): the protection
// keeps to the marker it began with.
TEST(ClientRuns, ARelativeMarkerPathIsMadeFullOnceAtTheStart) {
    RunScene scene;
    const std::wstring first = scene.folder.path + L"\\first";
    const std::wstring second = scene.folder.path + L"\\second";
    ASSERT_TRUE(CreateDirectoryW(first.c_str(), nullptr) &&
                CreateDirectoryW(second.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(first.c_str()));
    auto protection = protect(scene, Items::desktop_icons, L"marker.json");
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    EXPECT_EQ(protection->marker_path(), first + L"\\marker.json");

    ASSERT_TRUE(SetCurrentDirectoryW(second.c_str()));
    const auto ended = end(scene, *protection);
    SetCurrentDirectoryW(scene.folder.path.c_str());

    EXPECT_TRUE(ended.has_value()) << ended.error().message;
    EXPECT_FALSE(file_exists(first + L"\\marker.json"));
    EXPECT_FALSE(file_exists(second + L"\\marker.json"));
}

// Every name of one live run's marker is the run's: its long and short (8.3) names, another
// letter case, whichever of them the protection was given.
TEST(ClientRuns, EveryNameOfALiveRunsMarkerIsLeftAlone) {
    RunScene scene;
    const std::wstring folder = scene.folder.path + L"\\a rather long folder name";
    const std::wstring marker = folder + L"\\recovery marker.json";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring short_folder = short_path_of(folder);
    ASSERT_NE(short_folder, folder) << "no short names here";
    auto protection =
        protect(scene, Items::desktop_icons, short_folder + L"\\recovery marker.json");
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    const std::wstring short_name = short_path_of(marker);
    ASSERT_FALSE(short_name.empty());
    for (const std::wstring& name : {marker, short_name, folder + L"\\RECOVERY MARKER.JSON"}) {
        const auto settled =
            on_desktop(scene.ground, [&] { return client::settle_leftover_marker(name); });
        ASSERT_FALSE(settled.has_value());
        EXPECT_EQ(settled.error().code, client::Code::left_to_live_run) << settled.error().message;
        const auto discarded = client::discard_leftover_marker(name);
        ASSERT_FALSE(discarded.has_value());
        EXPECT_EQ(discarded.error().code, client::Code::left_to_live_run);
    }
    EXPECT_TRUE(file_exists(marker));
    EXPECT_TRUE(end(scene, *protection).has_value());
}

const std::string by_hand_session = "by-hand-" + std::to_string(GetCurrentProcessId());

// A clean end tells a watcher that this process did not start, nor keeps anything for, to stand
// down as well: the run's end request is made in any case.
TEST(ClientRuns, ACleanEndStandsDownAWatcherStartedElsewhere) {
    RunScene scene;
    write_file(scene.marker, R"({"version":1,"sessionId":")" + by_hand_session + "\"}");
    const ChildProcess main_process =
        start_process(sibling_executable(L"stand-in-main.exe"), {L"sleep", L"60000"});
    const ChildProcess watcher = start_process(sibling_executable(L"system-state-watchdog.exe"),
                                               {L"--watch", std::to_wstring(main_process.id),
                                                *utf8_to_utf16(by_hand_session), scene.marker});
    const SessionKey key = run_key(scene.marker, by_hand_session);
    ASSERT_TRUE(within(10000, [&] { return named_event_exists(run_object_name(L"end", key)); }));
    EXPECT_EQ(code_of(client::finish_cleanly(scene.marker, by_hand_session)), std::nullopt);
    EXPECT_EQ(wait_for_exit(watcher, 5000), 0u) << "the watcher did not stand down";
    terminate(main_process);
    EXPECT_FALSE(file_exists(scene.folder.path + L"\\logs"));
}

// A marker with a second name (a hard link) is no marker the library wrote: neither settled nor
// discarded, and kept as it is.
TEST(ClientRuns, AMarkerWithASecondNameIsNeitherSettledNorDiscarded) {
    RunScene scene;
    const std::string bytes =
        R"({"version":1,"sessionId":"left","desktopIcons":{"originalVisible":false}})";
    write_file(scene.marker, bytes);
    const std::wstring second = scene.folder.path + L"\\second name.json";
    ASSERT_TRUE(CreateHardLinkW(second.c_str(), scene.marker.c_str(), nullptr));
    const auto settled =
        on_desktop(scene.ground, [&] { return client::settle_leftover_marker(scene.marker); });
    ASSERT_FALSE(settled.has_value());
    EXPECT_EQ(settled.error().code, client::Code::failed);
    EXPECT_NE(settled.error().message.find("另有名称"), std::string::npos)
        << settled.error().message;
    EXPECT_FALSE(client::discard_leftover_marker(scene.marker).has_value());
    EXPECT_EQ(read_file(scene.marker), bytes);
    EXPECT_EQ(read_file(second), bytes);
    EXPECT_TRUE(on_shell(scene.ground, [&] { return IsWindowVisible(scene.icons) != FALSE; }));
}

struct RaceCase {
    const char* name;
    Items first;
    Items second;
};

// Two starts at one path at the same moment: one protection, one intact marker, and the other
// start told why.
TEST(ClientRuns, TwoStartsRacingForOnePathGiveOneProtection) {
    const RaceCase cases[] = {
        {"the same item", Items::desktop_icons, Items::desktop_icons},
        {"different items", Items::taskbar, Items::desktop_icons},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        RunScene scene;
        const UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::optional<std::expected<client::Protection, client::Error>> outcomes[2];
        const auto race = [&](int which, Items items) {
            WaitForSingleObject(start.get(), INFINITE);
            outcomes[which] = protect(scene, items, scene.marker);
        };
        std::thread one(race, 0, row.first);
        std::thread other(race, 1, row.second);
        SetEvent(start.get());
        one.join();
        other.join();

        ASSERT_NE(outcomes[0]->has_value(), outcomes[1]->has_value());
        auto& won = outcomes[0]->has_value() ? *outcomes[0] : *outcomes[1];
        const auto& lost = outcomes[0]->has_value() ? *outcomes[1] : *outcomes[0];
        EXPECT_TRUE(lost.error().code == client::Code::marker_unsettled ||
                    lost.error().code == client::Code::left_to_live_run)
            << lost.error().message;
        const auto marker = parse_recovery_marker(read_file(scene.marker).value_or(""));
        ASSERT_TRUE(marker.has_value());
        EXPECT_EQ(marker->sessionId, won->session_id());
        EXPECT_TRUE(end(scene, *won).has_value());
    }
}

// While an item is protected on a desktop, by an application or by a watcher after a crash,
// nobody else protects it; other items can be.
TEST(ClientRuns, AnItemIsProtectedOnceOnADesktop) {
    RunScene scene;
    const std::wstring other_marker = scene.folder.path + L"\\other\\marker.json";
    auto first = protect(scene, Items::taskbar, scene.marker);
    ASSERT_TRUE(first.has_value()) << first.error().message;

    const auto again = protect(scene, Items::both, other_marker);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().code, client::Code::left_to_live_run);
    EXPECT_EQ(again.error().message, "此桌面上另一个运行正在保护该项目: 任务栏");
    EXPECT_FALSE(file_exists(scene.folder.path + L"\\other"));

    auto icons = protect(scene, Items::desktop_icons, other_marker);
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    ASSERT_TRUE(end(scene, *first).has_value());
    ASSERT_TRUE(end(scene, *icons).has_value());

    // A watcher whose application is gone holds the items its marker records until it has
    // restored them.
    const std::string crashed = serialize_marker(
        RecoveryMarker{1, "crashed", {}, TaskbarRecoverySnapshot{0, {}}}, MarkerForm::object);
    write_file(scene.marker, crashed);
    std::optional<RunHold> watcher = on_desktop(scene.ground, [&] {
        BoundedWorker worker;
        return hold_watched_run(run_key(scene.marker, "crashed"),
                                read_session_marker(worker, scene.marker, "crashed"));
    });
    const auto during = protect(scene, Items::taskbar, other_marker);
    ASSERT_FALSE(during.has_value());
    EXPECT_EQ(during.error().code, client::Code::left_to_live_run);
    watcher.reset();
    auto after = protect(scene, Items::taskbar, other_marker);
    ASSERT_TRUE(after.has_value()) << after.error().message;
    EXPECT_TRUE(end(scene, *after).has_value());
}

// A restart while the previous run's watcher is still restoring its marker waits for it, as a
// settle does, and then protects the items the watcher held.
TEST(ClientRuns, ARestartWaitsForThePreviousRunsWatcher) {
    RunScene scene;
    write_file(scene.marker, serialize_marker({1, "previous", DesktopIconRecovery{true}, {}},
                                              MarkerForm::object));
    std::promise<void> holding;
    std::thread watcher([&] {
        on_desktop(scene.ground, [&] {
            const SessionKey key = run_key(scene.marker, "previous");
            const GuardedItem icons[] = {GuardedItem::desktop_icons};
            RunHold holds = hold_run(key, icons, ItemClaim::beside_others).value();
            const auto lock = lock_session(key, std::chrono::milliseconds(0));
            holding.set_value();
            Sleep(300);
            DeleteFileW(scene.marker.c_str());
            holds = {}; // before the lock, as a watcher lets go
        });
    });
    holding.get_future().wait();

    auto protection = protect(scene, Items::desktop_icons, scene.marker);
    watcher.join();

    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    EXPECT_TRUE(end(scene, *protection).has_value());
}

// Another kind of object under an item guard's name is said, never taken for a protection.
TEST(ClientRuns, AnItemGuardsNameTakenByAnotherObjectIsSaid) {
    RunScene scene;
    const std::wstring guard = on_desktop(
        scene.ground, [] { return item_guard_name(GuardedItem::desktop_icons).value(); });
    const UniqueHandle squatter(CreateMutexW(nullptr, FALSE, guard.c_str()));

    const auto refused = protect(scene, Items::desktop_icons, scene.marker);

    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, client::Code::failed);
    EXPECT_TRUE(
        refused.error().message.starts_with("无法创建项目保护对象: " + utf16_to_utf8(guard)))
        << refused.error().message;
    EXPECT_FALSE(file_exists(scene.marker));
}

// An instance with other rights (elevated, say) protects the taskbar, and its guard may not even
// be opened here: a protection of the taskbar is left to that run, while the separate steps,
// which refuse no item, still write their marker.
TEST(ClientRuns, AnItemProtectedByAnInstanceOfOtherRightsIsRefusedOnlyToAProtection) {
    RunScene scene;
    const std::wstring guard =
        on_desktop(scene.ground, [] { return item_guard_name(GuardedItem::taskbar).value(); });
    const UniqueHandle other_rights = event_nobody_may_open(guard);
    ASSERT_TRUE(other_rights.valid());

    const auto refused = protect(scene, Items::taskbar, scene.marker);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, client::Code::left_to_live_run);
    EXPECT_EQ(refused.error().message, "此桌面上另一个运行正在保护该项目: 任务栏");
    EXPECT_FALSE(file_exists(scene.marker));

    const RecoveryMarker steps{1, "steps", {}, TaskbarRecoverySnapshot{0, {}}};
    const auto written =
        on_desktop(scene.ground, [&] { return client::write_marker(scene.marker, steps); });
    ASSERT_TRUE(written.has_value()) << written.error().message;
    EXPECT_TRUE(file_exists(scene.marker));
    const auto finished =
        on_desktop(scene.ground, [&] { return client::finish_cleanly(scene.marker, "steps"); });
    ASSERT_TRUE(finished.has_value()) << finished.error().message;
}

// An ended protection, or one moved from, ends nothing: the desktop stays as it is.
TEST(ClientRuns, EndingAProtectionTwiceChangesNothing) {
    RunScene scene;
    auto protection = protect(scene, Items::desktop_icons, scene.marker);
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    client::Protection moved = std::move(*protection);
    EXPECT_EQ(protection->session_id(), "");
    ASSERT_TRUE(end(scene, moved).has_value());
    on_shell(scene.ground, [&] { ShowWindow(scene.icons, SW_HIDE); });

    for (client::Protection* ended : {&*protection, &moved}) {
        const auto again = end(scene, *ended);
        ASSERT_FALSE(again.has_value());
        EXPECT_EQ(again.error().code, client::Code::invalid_argument);
        EXPECT_EQ(again.error().message, "该保护已经结束");
    }
    EXPECT_FALSE(on_shell(scene.ground, [&] { return IsWindowVisible(scene.icons) != FALSE; }));
}

// A protection that cannot be ended keeps its marker for the watcher; a leftover marker that
// cannot be settled keeps a new protection from starting.
TEST(ClientRuns, FailuresOnTheWayInOrOutKeepTheMarker) {
    RunScene scene;
    auto protection = protect(scene, Items::desktop_icons, scene.marker);
    ASSERT_TRUE(protection.has_value()) << protection.error().message;
    const std::string session = protection->session_id();
    on_shell(scene.ground, [] { destroy_windows_of_this_thread(); });

    const auto ended = end(scene, *protection);
    ASSERT_FALSE(ended.has_value());
    EXPECT_EQ(ended.error().code, client::Code::failed);
    EXPECT_TRUE(file_exists(scene.marker));
    EXPECT_EQ(code_of(client::finish_cleanly(scene.marker, session)), std::nullopt);

    const std::string unsettleable = R"({"version":2,"sessionId":"earlier"})";
    write_file(scene.marker, unsettleable);
    const auto refused = protect(scene, Items::taskbar, scene.marker);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, client::Code::failed) << refused.error().message;
    EXPECT_EQ(read_file(scene.marker), unsettleable);
}

// The C API's protection is released by its end, whatever the outcome: a host that protects and
// ends for hours keeps nothing of the protections that ended.
TEST(ClientRuns, TheCApiKeepsNothingOfAnEndedProtection) {
    RunScene scene;
    const std::string marker = utf16_to_utf8(scene.marker);
    const auto protect_and_end = [&] {
        return on_desktop(scene.ground, [&] {
            ssw_protection* protection = nullptr;
            const ssw_status status = ssw_protect_desktop(marker.c_str(), SSW_ITEM_DESKTOP_ICONS,
                                                          nullptr, &protection, nullptr, 0);
            return status == SSW_OK ? ssw_end_protection(protection, nullptr, 0) : status;
        });
    };
    ASSERT_EQ(protect_and_end(), SSW_OK); // the first call's lasting allocations made
    // A watcher slow to answer under load leaves an end kept for it, which allocates too: a
    // protection that is never released shows in every cycle, such a watcher only now and then.
    long kept = 0;
    for (int cycle = 0; cycle < 3; ++cycle) {
        const long before = live_allocations;
        ASSERT_EQ(protect_and_end(), SSW_OK);
        kept = live_allocations - before;
        if (kept == 0) {
            break;
        }
    }
    EXPECT_EQ(kept, 0);
}

} // namespace
} // namespace watchdog::testing
