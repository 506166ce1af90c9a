// What a run's processes learn of each other through the names of its objects.

#include "session/run_hold.h"
#include "session/session_lock.h"

#include "run_objects.h"
#include "win/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace watchdog {
namespace {

using testing::event_nobody_may_open;

// Only "not found" says that nobody holds the name. An object that may not be opened is a run of
// other rights; another kind of object under the name says nothing.
TEST(RunPresence, IsHeldForExactlyAsLongAsSomebodyHoldsItsName) {
    const SessionKey key{L"C:\\PRESENCE TEST " + std::to_wstring(GetCurrentProcessId()), "s"};
    const std::wstring name = session_object_name(L"run", key).value();
    EXPECT_EQ(look_for_presence(key).holder, NameHolder::nobody);
    {
        const auto held = hold_run(key, {}, ItemClaim::alone);
        ASSERT_TRUE(held.has_value());
        EXPECT_EQ(look_for_presence(key).holder, NameHolder::a_run);
        EXPECT_EQ(look_for_presence({key.marker, "s "}).holder, NameHolder::nobody);
        EXPECT_EQ(look_for_presence({key.marker + L"\\X", "s"}).holder, NameHolder::nobody);
    }
    EXPECT_EQ(look_for_presence(key).holder, NameHolder::nobody);
    {
        const UniqueHandle other_rights = event_nobody_may_open(name);
        EXPECT_EQ(look_for_presence(key).holder, NameHolder::a_run_of_other_rights);
        EXPECT_EQ(hold_run(key, {}, ItemClaim::beside_others).error().state.holder,
                  NameHolder::a_run_of_other_rights);
    }
    const UniqueHandle squatter(CreateMutexW(nullptr, FALSE, name.c_str()));
    EXPECT_EQ(look_for_presence(key).holder, NameHolder::another_object);
    EXPECT_EQ(hold_run(key, {}, ItemClaim::beside_others).error().state.holder,
              NameHolder::another_object);
}

// The marker's text and the session id are kept apart in the name: no two keys run together.
TEST(RunObjectNames, TellEveryKeyApart) {
    const std::vector<SessionKey> keys = {
        {L"A", "BC"}, {L"AB", "C"}, {L"ABC", ""}, {L"A", "bc"}, {L"B", "BC"}};
    std::map<std::wstring, SessionKey> names;
    for (const auto& key : keys) {
        EXPECT_TRUE(names.emplace(session_object_name(L"run", key).value(), key).second)
            << utf16_to_utf8(key.marker) << " " << key.session_id;
    }
    EXPECT_NE(session_object_name(L"run", keys[0]), session_object_name(L"end", keys[0]));
}

// A new protection is refused an item that anybody holds, an instance of other rights included;
// a run in force beside others holds what it can.
TEST(ItemGuards, AreClaimedAloneOrHeldBesideOthers) {
    const GuardedItem both[] = {GuardedItem::taskbar, GuardedItem::desktop_icons};
    const SessionKey first{L"C:\\GUARDS 1", "s"}, second{L"C:\\GUARDS 2", "s"};
    {
        auto protection = hold_run(first, both, ItemClaim::alone);
        ASSERT_TRUE(protection.has_value());
        const auto refused = hold_run(second, both, ItemClaim::alone);
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error().item, GuardedItem::taskbar);
        EXPECT_EQ(refused.error().state.holder, NameHolder::a_run);
        const auto beside = hold_run(second, both, ItemClaim::beside_others);
        ASSERT_TRUE(beside.has_value());
        EXPECT_EQ(beside->items.size(), 2u);
        protection = std::unexpected(HoldRefusal{});
        const auto still_held = hold_run(first, both, ItemClaim::alone);
        EXPECT_FALSE(still_held.has_value()) << "the run beside holds them still";
    }

    const std::wstring icons = item_guard_name(GuardedItem::desktop_icons).value();
    const UniqueHandle other_rights = event_nobody_may_open(icons);
    const SessionKey third{L"C:\\GUARDS 3", "s"};
    const GuardedItem icons_only[] = {GuardedItem::desktop_icons};
    EXPECT_EQ(hold_run(third, icons_only, ItemClaim::alone).error().state.holder,
              NameHolder::a_run_of_other_rights);
    EXPECT_TRUE(hold_run(third, icons_only, ItemClaim::beside_others)->items.empty());
}

// The private namespace's decisions, through stand-ins for kernel32's calls (Wine has none).
struct FakeNamespace {
    std::vector<DWORD> creates; // each create's error, 0: it succeeds
    std::vector<DWORD> opens;
    int created = 0, opened = 0;
};
FakeNamespace fake;
HANDLE some_handle = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI fake_boundary(LPCWSTR, ULONG) {
    return some_handle;
}
HANDLE WINAPI no_boundary(LPCWSTR, ULONG) {
    return nullptr;
}
BOOL WINAPI fake_add(HANDLE*, PSID) {
    return TRUE;
}
VOID WINAPI fake_delete(HANDLE) {}
HANDLE answer(const std::vector<DWORD>& errors, int& calls) {
    const DWORD error = errors.at(static_cast<std::size_t>(calls++));
    SetLastError(error);
    return error == 0 ? some_handle : nullptr;
}
HANDLE WINAPI fake_create(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR) {
    return answer(fake.creates, fake.created);
}
HANDLE WINAPI fake_open(LPVOID, LPCWSTR) {
    return answer(fake.opens, fake.opened);
}

TEST(ObjectNamespace, IsCreatedOrOpenedAndTriedAgainWhenItVanishedInBetween) {
    const NamespaceCalls calls{fake_boundary, fake_add,    fake_add,
                               fake_delete,   fake_create, fake_open};
    const std::wstring private_names = L"SystemStateWatchdog\\";
    struct Case {
        const char* name;
        std::vector<DWORD> creates, opens;
        std::expected<std::wstring, DWORD> prefix;
    };
    const Case cases[] = {
        {"created", {0}, {}, private_names},
        {"opened where another process created it", {ERROR_ALREADY_EXISTS}, {0}, private_names},
        {"created again when it vanished in between",
         {ERROR_ALREADY_EXISTS, 0},
         {ERROR_PATH_NOT_FOUND},
         private_names},
        {"refused", {ERROR_ACCESS_DENIED}, {}, std::unexpected(DWORD{ERROR_ACCESS_DENIED})},
        {"refused to open",
         {ERROR_ALREADY_EXISTS},
         {ERROR_ACCESS_DENIED},
         std::unexpected(DWORD{ERROR_ACCESS_DENIED})},
        {"vanishing for ever",
         {ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS},
         {ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
         std::unexpected(DWORD{ERROR_PATH_NOT_FOUND})},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fake = {row.creates, row.opens};
        const auto prefix = object_namespace(calls);
        const std::expected<std::wstring, DWORD> found =
            prefix ? std::expected<std::wstring, DWORD>(*prefix)
                   : std::unexpected(DWORD{prefix.error().code});
        EXPECT_EQ(found, row.prefix);
        EXPECT_EQ(fake.created, static_cast<int>(row.creates.size()));
        EXPECT_EQ(fake.opened, static_cast<int>(row.opens.size()));
    }
    NamespaceCalls without = calls;
    without.create_boundary = no_boundary;
    const std::expected<std::wstring, Win32Failure> local = std::wstring(L"Local\\");
    EXPECT_EQ(object_namespace(without), local);
    without.create_boundary = nullptr;
    EXPECT_EQ(object_namespace(without), local);
}

// `look` made on a thread that impersonates this process's user at the given integrity level.
NameHolder looked_at_integrity(DWORD integrity_rid, const std::function<NameHolder()>& look) {
    HANDLE own = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own));
    const UniqueHandle process_token(own);
    HANDLE copy = nullptr;
    EXPECT_TRUE(DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                 TokenImpersonation, &copy));
    const UniqueHandle token(copy);
    SID_IDENTIFIER_AUTHORITY label_authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID label = nullptr;
    AllocateAndInitializeSid(&label_authority, 1, integrity_rid, 0, 0, 0, 0, 0, 0, 0, &label);
    TOKEN_MANDATORY_LABEL mandatory{{label, SE_GROUP_INTEGRITY}};
    EXPECT_TRUE(SetTokenInformation(copy, TokenIntegrityLevel, &mandatory,
                                    sizeof mandatory + GetLengthSid(label)));
    FreeSid(label);
    NameHolder holder = NameHolder::unknown;
    std::thread([&] {
        SetThreadToken(nullptr, copy);
        holder = look();
        RevertToSelf();
    }).join();
    return holder;
}

// Where the platform has private namespaces (not Wine 8): an instance of the same user at medium
// integrity (one that is not elevated) meets this run there; a sandboxed process of lower
// integrity can reach nothing of it.
TEST(ObjectNamespace, IsSharedByTheUsersInstancesAndClosedToLowerIntegrity) {
    if (object_namespace(system_namespace_calls()) == std::wstring(L"Local\\")) {
        GTEST_SKIP() << "no private namespaces here (Wine 8 gives no boundary descriptor)";
    }
    const SessionKey key{L"C:\\NAMESPACE TEST " + std::to_wstring(GetCurrentProcessId()), "s"};
    const auto held = hold_run(key, {}, ItemClaim::alone);
    ASSERT_TRUE(held.has_value());
    const auto look = [&] {
        return look_for_presence(key).holder;
    };
    const NameHolder medium = looked_at_integrity(SECURITY_MANDATORY_MEDIUM_RID, look);
    EXPECT_TRUE(medium == NameHolder::a_run || medium == NameHolder::a_run_of_other_rights);
    const NameHolder low = looked_at_integrity(SECURITY_MANDATORY_LOW_RID, look);
    EXPECT_NE(low, NameHolder::a_run);
    EXPECT_NE(low, NameHolder::nobody) << "a low-integrity process took the name for free";
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
