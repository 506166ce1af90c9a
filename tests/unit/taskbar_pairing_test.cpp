#include "taskbar/taskbar_window_plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace watchdog {
namespace {

using Pick = std::optional<std::size_t>;
constexpr Pick none = std::nullopt;

struct PairingCase {
    const char* behaviour;
    std::vector<std::int64_t> found_handles; // position 0 is the primary taskbar
    std::vector<std::int64_t> recorded_handles;
    std::vector<Pick> expected;
};

std::vector<TaskbarWindowRecoveryState> records_with(const std::vector<std::int64_t>& handles) {
    std::vector<TaskbarWindowRecoveryState> records;
    for (const std::int64_t handle : handles) {
        records.push_back(TaskbarWindowRecoveryState{.hwnd = handle});
    }
    return records;
}

TEST(TaskbarPairing, PicksByHandleThenByPositionThenNone) {
    const PairingCase cases[] = {
        {"handles match whatever the record order", {100, 200, 300}, {300, 100, 200}, {1, 2, 0}},
        {"all handles stale: by position", {100, 200}, {7, 8}, {0, 1}},
        {"a third window beyond the records gets none", {100, 200, 300}, {7, 8}, {0, 1, none}},
        {"duplicate handles: the first record wins", {100}, {5, 100, 100}, {1}},
        {"a record taken by handle is also taken by position", {100, 200}, {7, 100}, {1, 1}},
        {"the primary takes by position a record that names a secondary",
         {100, 200},
         {200, 9},
         {0, 0}},
        {"no records: every window gets none", {100, 200}, {}, {none, none}},
        {"more records than windows", {100}, {7, 8, 9}, {0}},
        {"more records than windows, matched late", {100}, {7, 8, 100}, {2}},
        {"handles compare as whole 64-bit values", {4294967291}, {-5, 4294967291}, {1}},
        {"negative handles match", {-5, 100}, {100, -5}, {1, 0}},
        {"no windows", {}, {1, 2}, {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.behaviour);
        const auto records = records_with(row.recorded_handles);
        EXPECT_EQ(pair_taskbar_records(row.found_handles, records), row.expected);
    }
}

TEST(TaskbarThreadGroups, OneGroupPerThreadInFirstSeenOrderEachInListOrder) {
    using Groups = std::vector<std::vector<std::size_t>>;
    struct Case {
        const char* name;
        std::vector<std::uint32_t> threads;
        Groups expected;
    };
    const Case cases[] = {
        {"one thread", {7, 7, 7}, {{0, 1, 2}}},
        {"primary apart from the secondaries", {7, 9, 9}, {{0}, {1, 2}}},
        {"interleaved threads", {7, 9, 7, 9}, {{0, 2}, {1, 3}}},
        {"a vanished window (thread 0) is a group of its own", {7, 0, 7}, {{0, 2}, {1}}},
        {"no windows", {}, {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(group_by_thread(row.threads), row.expected);
    }
}

} // namespace
} // namespace watchdog
