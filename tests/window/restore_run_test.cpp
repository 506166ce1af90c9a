// The restore run with real marker files, and with a stand-in shell whose windows decide
// whether each recorded item can come back: no taskbar window makes the taskbar fail, no icon
// view makes the desktop icons fail.

#include "restore/restore_run.h"

#include "stand_in_desktop.h"
#include "test_files.h"
#include "win/error_text.h"
#include "win/unique_resource.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {
namespace {

using RunResult = std::expected<void, std::string>;

const std::string session = "session-7";
const std::string nothing_recorded = "{\"version\":1,\"sessionId\":\"session-7\"}";
const std::string taskbar_no_windows =
    "{\"version\":1,\"sessionId\":\"session-7\",\"taskbar\":{\"appbar_state\":2,\"windows\":[]}}";
const std::string icons_visible =
    "{\"version\":1,\"sessionId\":\"session-7\",\"desktopIcons\":{\"originalVisible\":true}}";
const std::string both_items =
    "{\"version\":1,\"sessionId\":\"session-7\",\"desktopIcons\":{\"originalVisible\":true},"
    "\"taskbar\":{\"appbar_state\":2,\"windows\":[]}}";
const std::string taskbar_failure = "恢复任务栏失败: 未找到 Windows 系统任务栏: ";
const std::string icons_failure = "恢复桌面图标失败: 未找到 Windows 桌面图标窗口";

// A stand-in desktop whose shell thread holds whatever windows a test asks for, and a folder
// with the marker and its logs.
struct RestoreScene {
    StandInDesktop ground;
    TempDirectory folder;
    std::wstring marker = folder.path + L"\\marker.json";
    std::wstring log = folder.path + L"\\logs\\system-state-recovery.log";
    HWND list_view = nullptr;
};

void add_taskbar(RestoreScene& scene) {
    on_shell(scene.ground, [&] {
        ASSERT_TRUE(
            create_taskbar_window(scene.ground.taskbar_log, {.kind = TaskbarKind::primary}));
    });
}

void add_hidden_icons(RestoreScene& scene) {
    on_shell(scene.ground, [&] {
        ASSERT_TRUE(register_desktop_window_classes());
        const auto windows = create_program_manager_icons(scene.ground.icons, false);
        ASSERT_TRUE(windows);
        scene.list_view = windows->list_view;
    });
}

bool icons_shown(RestoreScene& scene) {
    return on_shell(scene.ground, [&] { return IsWindowVisible(scene.list_view) != FALSE; });
}

RunResult run(RestoreScene& scene, std::string_view expected_session = session) {
    return on_desktop(scene.ground, [&] -> RunResult {
        BoundedWorker worker;
        const auto restored = restore_from_marker(scene.marker, expected_session, worker);
        if (!restored) {
            return std::unexpected(restored.error());
        }
        return {};
    });
}

std::vector<std::string> log_lines(const RestoreScene& scene) {
    return log_lines_without_time(scene.log);
}

std::string error_of(const RunResult& result) {
    return result ? "(success)" : result.error();
}

// --- The marker file and its validation --------------------------------------------------

TEST(RestoreRun, NoMarkerIsSuccessAndLeavesNoTrace) {
    RestoreScene scene;
    EXPECT_TRUE(run(scene));
    EXPECT_FALSE(file_exists(scene.folder.path + L"\\logs"));
}

TEST(RestoreRun, AFolderAtTheMarkerPathIsAReadFailure) {
    RestoreScene scene;
    ASSERT_TRUE(CreateDirectoryW(scene.marker.c_str(), nullptr));
    const UniqueHandle probe(CreateFileW(scene.marker.c_str(), GENERIC_READ, 7, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_FALSE(probe);
    const DWORD open_error = GetLastError();
    EXPECT_EQ(error_of(run(scene)),
              "读取恢复标记失败: " + file_error_text(win32_failure(open_error)));
    EXPECT_TRUE(file_exists(scene.marker));
}

TEST(RestoreRun, AMarkerOpenedExclusivelyElsewhereIsAReadFailure) {
    RestoreScene scene;
    write_file(scene.marker, nothing_recorded);
    UniqueHandle exclusive(CreateFileW(scene.marker.c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive);
    const RunResult result = run(scene);
    exclusive.reset();
    EXPECT_EQ(error_of(result),
              "读取恢复标记失败: " + file_error_text(Win32Failure{ERROR_SHARING_VIOLATION}));
    EXPECT_EQ(read_file(scene.marker), nothing_recorded);
    EXPECT_FALSE(file_exists(scene.log));
}

struct RejectedMarker {
    const char* name;
    std::string content;
    std::string expected_error_start;
    std::string expected_error_part;
};

void check_rejected_marker(const RejectedMarker& row) {
    SCOPED_TRACE(row.name);
    RestoreScene scene;
    write_file(scene.marker, row.content);
    const std::string error = error_of(run(scene));
    EXPECT_TRUE(error.starts_with(row.expected_error_start)) << error;
    EXPECT_NE(error.find(row.expected_error_part), std::string::npos) << error;
    if (row.expected_error_part.empty()) {
        EXPECT_EQ(error, row.expected_error_start);
    }
    EXPECT_EQ(read_file(scene.marker), row.content);
    EXPECT_FALSE(file_exists(scene.log));
}

TEST(RestoreRun, RejectedMarkersStayByteIdenticalAndAreNotLogged) {
    const RejectedMarker cases[] = {
        {"invalid JSON", "{\"version\":1,", "解析恢复标记失败: ", " at line 1 column "},
        {"truncated", nothing_recorded.substr(0, 20), "解析恢复标记失败: ", " at line "},
        {"no session id", "{\"version\":1}", "解析恢复标记失败: ", "missing field `sessionId`"},
        {"byte-order mark", "\xEF\xBB\xBF" + nothing_recorded, "解析恢复标记失败: ", " at line 1"},
        {"version 2", "{\"version\":2,\"sessionId\":\"session-7\"}",
         "不支持的系统状态恢复标记版本: 2", ""},
        {"version 2, other session", "{\"version\":2,\"sessionId\":\"other\"}",
         "不支持的系统状态恢复标记版本: 2", ""},
        {"version 0", "{\"version\":0,\"sessionId\":\"session-7\"}",
         "不支持的系统状态恢复标记版本: 0", ""},
        {"largest version", "[4294967295,\"session-7\",null,null]",
         "不支持的系统状态恢复标记版本: 4294967295", ""},
    };
    for (const auto& row : cases) {
        check_rejected_marker(row);
    }
}

TEST(RestoreRun, AnotherSessionsMarkerIsLeftAlone) {
    for (const std::string expected : {"Session-7", "session-7 ", "session-", ""}) {
        SCOPED_TRACE("'" + expected + "'");
        RestoreScene scene;
        add_hidden_icons(scene);
        write_file(scene.marker, icons_visible);
        EXPECT_TRUE(run(scene, expected));
        EXPECT_EQ(read_file(scene.marker), icons_visible);
        EXPECT_FALSE(icons_shown(scene)) << "an item was restored";
        EXPECT_FALSE(file_exists(scene.log));
    }
}

TEST(RestoreRun, AMarkerThatRecordsNothingIsDeletedAndSummarised) {
    const std::string forms[] = {
        nothing_recorded,
        "{\"version\":1,\"sessionId\":\"session-7\",\"desktopIcons\":null,\"taskbar\":null}",
        "[1,\"session-7\",null,null]",
    };
    for (const auto& content : forms) {
        SCOPED_TRACE(content);
        RestoreScene scene;
        write_file(scene.marker, content);
        EXPECT_TRUE(run(scene));
        EXPECT_FALSE(file_exists(scene.marker));
        EXPECT_EQ(log_lines(scene),
                  std::vector<std::string>{"[restore] 恢复检查完成，无待恢复系统状态"});
    }
}

// --- The recorded items ------------------------------------------------------------------

struct ItemCase {
    const char* name;
    std::string marker;
    bool taskbar_present;
    bool icons_present;
    std::string expected_error; // empty: success
    std::string expected_summary;
};

void check_item_outcome(const ItemCase& row) {
    SCOPED_TRACE(row.name);
    RestoreScene scene;
    if (row.taskbar_present) {
        add_taskbar(scene);
    }
    if (row.icons_present) {
        add_hidden_icons(scene);
    }
    write_file(scene.marker, row.marker);
    const RunResult result = run(scene);
    if (row.expected_error.empty()) {
        EXPECT_TRUE(result) << error_of(result);
        EXPECT_FALSE(file_exists(scene.marker));
        EXPECT_EQ(log_lines(scene), std::vector<std::string>{row.expected_summary});
    } else {
        EXPECT_TRUE(error_of(result).starts_with(row.expected_error)) << error_of(result);
        EXPECT_EQ(read_file(scene.marker), row.marker);
        EXPECT_FALSE(file_exists(scene.log));
    }
    if (row.icons_present) {
        EXPECT_TRUE(icons_shown(scene)) << "the icons stayed hidden";
    }
}

TEST(RestoreRun, ItemOutcomesDecideBetweenDeletionAndKeepingTheMarker) {
    const ItemCase cases[] = {
        {"only the icons, restored", icons_visible, false, true, "",
         "[restore] 系统状态恢复完成: 桌面图标"},
        {"both restored", both_items, true, true, "",
         "[restore] 系统状态恢复完成: 任务栏、桌面图标"},
        {"an empty window list still goes to the taskbar", taskbar_no_windows, false, false,
         taskbar_failure, ""},
        {"taskbar fails, icons restored", both_items, false, true, taskbar_failure, ""},
        {"both fail", both_items, false, false, taskbar_failure, ""},
        {"icons fail, taskbar restored", both_items, true, false, icons_failure, ""},
    };
    for (const auto& row : cases) {
        check_item_outcome(row);
    }
}

TEST(RestoreRun, BothFailuresAreReportedTaskbarFirst) {
    RestoreScene scene;
    write_file(scene.marker, both_items);
    const std::string error = error_of(run(scene));
    const auto separator = error.find("; ");
    ASSERT_NE(separator, std::string::npos) << error;
    EXPECT_TRUE(error.starts_with(taskbar_failure)) << error;
    EXPECT_EQ(error.substr(separator + 2), icons_failure);
}

// --- Deleting the marker ----------------------------------------------------------------

struct HolderCase {
    const char* name;
    DWORD access;
    DWORD sharing;
};

void check_held_marker_kept(const HolderCase& row) {
    SCOPED_TRACE(row.name);
    RestoreScene scene;
    add_hidden_icons(scene);
    write_file(scene.marker, icons_visible);
    UniqueHandle holder(CreateFileW(scene.marker.c_str(), row.access, row.sharing, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const RunResult result = run(scene);
    holder.reset();
    EXPECT_EQ(error_of(result),
              "删除恢复标记失败: " + file_error_text(Win32Failure{ERROR_SHARING_VIOLATION}));
    EXPECT_TRUE(icons_shown(scene));
    EXPECT_EQ(read_file(scene.marker), icons_visible);
    EXPECT_FALSE(file_exists(scene.log));
}

// A marker somebody holds open without delete sharing cannot be deleted; one somebody is
// writing may be about to hold other bytes, and is not deleted from under the writer either.
TEST(RestoreRun, AMarkerHeldOpenWithoutDeleteSharingIsRestoredButKept) {
    const HolderCase cases[] = {
        {"held without delete sharing", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"held for writing", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const auto& row : cases) {
        check_held_marker_kept(row);
    }
}

// A read-only marker is not ours to make writable: the main application may have marked it so
// on purpose. Its deletion fails like any other, and it stays.
TEST(RestoreRun, AReadOnlyMarkerIsRestoredButKept) {
    RestoreScene scene;
    write_file(scene.marker, nothing_recorded);
    ASSERT_TRUE(SetFileAttributesW(scene.marker.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(error_of(run(scene)),
              "删除恢复标记失败: " + file_error_text(Win32Failure{ERROR_ACCESS_DENIED}));
    EXPECT_TRUE(file_exists(scene.marker));
    EXPECT_EQ(GetFileAttributesW(scene.marker.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(file_exists(scene.log));
}

struct ReplacedMarkerCase {
    const char* name;
    std::optional<std::string> replacement; // empty: the marker is removed
};

// The main application, restarted while the watcher still restores its previous run, puts its
// next marker in place the way it should: written beside it and moved over it.
void check_marker_replaced_during_restore(const ReplacedMarkerCase& row) {
    SCOPED_TRACE(row.name);
    RestoreScene scene;
    add_taskbar(scene);
    write_file(scene.marker, taskbar_no_windows);
    const std::wstring next = scene.folder.path + L"\\next marker.json";
    bool replaced = false;
    set_shell_reaction(scene.ground.taskbar_log, [&](const ShellEvent& event) {
        if (event.kind == ShellEventKind::ex_style_changed && !replaced) {
            replaced = true;
            if (row.replacement) {
                write_file(next, *row.replacement);
                MoveFileExW(next.c_str(), scene.marker.c_str(), MOVEFILE_REPLACE_EXISTING);
            } else {
                DeleteFileW(scene.marker.c_str());
            }
        }
    });
    const RunResult result = run(scene);
    set_shell_reaction(scene.ground.taskbar_log, nullptr);
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(result) << error_of(result);
    EXPECT_EQ(read_file(scene.marker), row.replacement);
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{"[restore] 系统状态恢复完成: 任务栏"});
}

TEST(RestoreRun, OnlyTheMarkerThatWasReadIsDeleted) {
    const ReplacedMarkerCase cases[] = {
        {"the next session's marker", R"({"version":1,"sessionId":"session-8"})"},
        {"the same session's marker, rewritten", R"({"version":1, "sessionId":"session-7"})"},
        {"no marker any more", std::nullopt},
    };
    for (const auto& row : cases) {
        check_marker_replaced_during_restore(row);
    }
}

TEST(RestoreRun, ASecondRunAfterACompleteOneFindsNothing) {
    RestoreScene scene;
    add_hidden_icons(scene);
    write_file(scene.marker, icons_visible);
    EXPECT_TRUE(run(scene));
    EXPECT_TRUE(run(scene));
    EXPECT_EQ(log_lines(scene), std::vector<std::string>{"[restore] 系统状态恢复完成: 桌面图标"});
}

} // namespace
} // namespace watchdog::testing
