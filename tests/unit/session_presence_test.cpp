// Whether a run is alive, read from its session's presence object.

#include "session/item_guard.h"
#include "session/session_lock.h"
#include "session/session_presence.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

// Only "not found" says that nobody holds the name. An object that may not be opened is a run
// of other rights; another kind of object under the name, or any other failure, says nothing.
TEST(SessionPresence, OnlyAnObjectThatIsNotThereMeansTheRunIsOver) {
    const std::pair<DWORD, PresenceSeen> cases[] = {
        {ERROR_FILE_NOT_FOUND, PresenceSeen::absent},
        {ERROR_ACCESS_DENIED, PresenceSeen::held_with_rights},
        {ERROR_INVALID_HANDLE, PresenceSeen::other_object},
        {ERROR_NOT_ENOUGH_MEMORY, PresenceSeen::unknown},
    };
    for (const auto& [error, seen] : cases) {
        EXPECT_EQ(presence_after_open_failure(win32_failure(error)).seen, seen) << error;
    }
    EXPECT_EQ(presence_after_open_failure(win32_failure(ERROR_NOT_ENOUGH_MEMORY)).failure.code,
              static_cast<std::uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
}

// A run is its marker and its session together: the same session id at another marker, the
// same marker written otherwise, and another session are apart from it or the same as it.
TEST(SessionPresence, IsHeldForExactlyAsLongAsSomebodyHoldsItsName) {
    const std::wstring folder = L"C:\\presence test " + std::to_wstring(GetCurrentProcessId());
    const SessionKey key = session_key(folder + L"\\marker.json", "a session");
    const auto seen = [](const SessionKey& other) {
        return look_for_presence(other).seen;
    };
    EXPECT_EQ(seen(key), PresenceSeen::absent);
    {
        const auto held = hold_session_presence(key);
        ASSERT_TRUE(held.has_value());
        EXPECT_EQ(seen(key), PresenceSeen::held);
        EXPECT_EQ(seen(session_key(folder + L"\\MARKER.JSON", "a session")), PresenceSeen::held);
        EXPECT_EQ(seen(session_key(L"\\\\?\\" + folder + L"\\marker.json", "a session")),
                  PresenceSeen::held);
        EXPECT_EQ(seen(session_key(folder + L"\\.\\marker.json", "a session")), PresenceSeen::held);
        EXPECT_EQ(seen(session_key(folder + L"\\marker.json", "a session ")), PresenceSeen::absent);
        EXPECT_EQ(seen(session_key(folder + L"\\other\\marker.json", "a session")),
                  PresenceSeen::absent);
    }
    EXPECT_EQ(seen(key), PresenceSeen::absent);
    const UniqueHandle squatter(CreateMutexW(nullptr, FALSE, session_presence_name(key).c_str()));
    EXPECT_EQ(seen(key), PresenceSeen::other_object);
}

// A guard that may not be opened is an instance's of other rights (elevated, say): a protection
// as much as one that exists. Another kind of object under the name is not.
TEST(ItemGuard, IsClaimedByAnotherRunWhenItExistsOrMayNotBeOpened) {
    EXPECT_TRUE(claimed_by_another_run(win32_failure(ERROR_ALREADY_EXISTS)));
    EXPECT_TRUE(claimed_by_another_run(win32_failure(ERROR_ACCESS_DENIED)));
    EXPECT_FALSE(claimed_by_another_run(win32_failure(ERROR_INVALID_HANDLE)));
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
