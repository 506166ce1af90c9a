// Whether a run is alive, read from its session's presence object.

#include "session/session_lock.h"
#include "session/session_presence.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

// Another user's or a service's object cannot be opened: access denied still means somebody
// holds it. Only "not found" says that nobody does.
TEST(SessionPresence, OnlyAnObjectThatIsNotThereMeansTheRunIsOver) {
    EXPECT_FALSE(presence_held_after_open_failure(win32_failure(ERROR_FILE_NOT_FOUND)));
    EXPECT_TRUE(presence_held_after_open_failure(win32_failure(ERROR_ACCESS_DENIED)));
    EXPECT_TRUE(presence_held_after_open_failure(win32_failure(ERROR_INVALID_HANDLE)));
}

TEST(SessionPresence, IsHeldForExactlyAsLongAsSomebodyHoldsItsName) {
    EXPECT_FALSE(session_presence_held("a session"));
    {
        const auto held = hold_session_presence("a session");
        ASSERT_TRUE(held.has_value());
        EXPECT_TRUE(session_presence_held("a session"));
        EXPECT_FALSE(session_presence_held("a session "));
    }
    EXPECT_FALSE(session_presence_held("a session"));
    // Another kind of object under the name cannot be opened as the event, but is somebody's.
    const UniqueHandle squatter(
        CreateMutexW(nullptr, FALSE, session_presence_name("a session").c_str()));
    EXPECT_TRUE(session_presence_held("a session"));
}

// A caller's number never becomes a wait without end (INFINITE is 0xFFFFFFFF milliseconds).
TEST(SessionWaits, AreClampedToAMinute) {
    using std::chrono::milliseconds;
    const std::pair<milliseconds, std::uint32_t> cases[] = {
        {milliseconds(-5), 0u},        {milliseconds(0), 0u},
        {milliseconds(10000), 10000u}, {milliseconds(60000), 60000u},
        {milliseconds(60001), 60000u}, {milliseconds(0xFFFFFFFFLL), 60000u},
        {milliseconds::max(), 60000u},
    };
    for (const auto& [wait, expected] : cases) {
        EXPECT_EQ(bounded_wait_ms(wait), expected) << wait.count();
    }
}

} // namespace
} // namespace watchdog
