#include "restore/restore_run.h"

#include <gtest/gtest.h>

namespace watchdog {
namespace {

TEST(RestoreSummary, NamesTheRestoredItemsInOrder) {
    EXPECT_EQ(restore_summary({}), "恢复检查完成，无待恢复系统状态");
    EXPECT_EQ(restore_summary({taskbar_item_name}), "系统状态恢复完成: 任务栏");
    EXPECT_EQ(restore_summary({desktop_icons_item_name}), "系统状态恢复完成: 桌面图标");
    EXPECT_EQ(restore_summary({taskbar_item_name, desktop_icons_item_name}),
              "系统状态恢复完成: 任务栏、桌面图标");
}

TEST(RestoreFailures, AreJoinedWithSemicolonsOnlyBetweenEntries) {
    EXPECT_EQ(join_failures({}), "");
    EXPECT_EQ(join_failures({"a: x"}), "a: x");
    EXPECT_EQ(join_failures({"a: x", "b: y"}), "a: x; b: y");
    EXPECT_EQ(join_failures({"", "b"}), "; b");
}

} // namespace
} // namespace watchdog
