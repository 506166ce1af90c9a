// A second start of the main application while the first run is alive, through the real
// executables: the first run (with a session id of its own choosing, as a by-hand application
// has) and its watcher are processes of their own.

#include <system_state_watchdog/client.hpp>

#include "run_objects.h"
#include "scenario.h"
#include "session/run_hold.h"
#include "win/utf.h"

#include <gtest/gtest.h>

#include <chrono>

namespace watchdog::testing {
namespace {

namespace client = watchdog::client;

// Of the application's own choosing, and this test process's alone: tests run side by side, and
// a run's liveness is seen system-wide.
const std::string by_hand_session = "3f2a9c4e-session-" + std::to_string(GetCurrentProcessId());

std::expected<void, client::Error> second_start_settles(Scene& scene) {
    return on_desktop(scene.ground, [&] {
        return client::settle_leftover_marker(scene.marker, std::chrono::milliseconds(200));
    });
}

void expect_left_to_live_run(Scene& scene, const std::string& while_alive) {
    SCOPED_TRACE(while_alive);
    const auto settled = second_start_settles(scene);
    ASSERT_FALSE(settled.has_value());
    EXPECT_EQ(settled.error().code, client::Code::left_to_live_run) << settled.error().message;
    EXPECT_TRUE(is_broken(desktop_state(scene)));
    EXPECT_TRUE(file_exists(scene.marker));
}

TEST(SecondStart, LeavesALiveRunAloneAndSettlesItOnceTheRunAndItsWatcherAreGone) {
    Scene scene;
    const DesktopState before = desktop_state(scene);
    Protected run =
        start_protected_application(scene, {L"--session", *utf8_to_utf16(by_hand_session)});
    ASSERT_TRUE(run.watcher.has_value());
    ASSERT_TRUE(is_broken(desktop_state(scene)));

    expect_left_to_live_run(scene, "the application and its watcher");
    terminate(*run.watcher);
    wait_for_exit(*run.watcher, generous_wait);
    expect_left_to_live_run(scene, "the application alone");
    terminate(run.main_application);
    wait_for_exit(run.main_application, generous_wait);

    EXPECT_EQ(code_of(second_start_settles(scene)), std::nullopt);
    EXPECT_EQ(desktop_state(scene), before);
    EXPECT_FALSE(file_exists(scene.marker));
}

// A watcher keeps its run alive from its start, not only while it restores: here it waits for
// a process that is not the marker's writer, which is long gone.
TEST(SecondStart, AWatcherAloneKeepsItsRunAlive) {
    Scene scene;
    write_file(scene.marker, R"({"version":1,"sessionId":")" + by_hand_session + "\"}");
    const ChildProcess waited_for =
        start_process(sibling_executable(L"stand-in-main.exe"), {L"sleep", L"60000"});
    const ChildProcess watcher = start_process(sibling_executable(L"system-state-watchdog.exe"),
                                               {L"--watch", std::to_wstring(waited_for.id),
                                                *utf8_to_utf16(by_hand_session), scene.marker});
    const SessionKey key = run_key(scene.marker, by_hand_session);
    for (int tries = 0; tries < 250 && look_for_presence(key).holder != NameHolder::a_run;
         ++tries) {
        Sleep(20); // the watcher is starting
    }

    const auto settled = second_start_settles(scene);
    terminate(waited_for);

    ASSERT_FALSE(settled.has_value());
    EXPECT_EQ(settled.error().code, client::Code::left_to_live_run);
    EXPECT_EQ(wait_for_exit(watcher, generous_wait), 0u);
    EXPECT_FALSE(file_exists(scene.marker)) << "the watcher restored it";
    EXPECT_EQ(look_for_presence(key).holder, NameHolder::nobody);
}

} // namespace
} // namespace watchdog::testing
