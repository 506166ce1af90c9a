#pragma once

#include "marker/records.h"

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::string_view taskbar_item_name = "任务栏";
inline constexpr std::string_view desktop_icons_item_name = "桌面图标";

inline constexpr std::string_view read_failed_prefix = "读取恢复标记失败: ";
inline constexpr std::string_view delete_failed_prefix = "删除恢复标记失败: ";

// The bytes of the marker at `path` (in the form for file calls), nothing when there is no
// marker, or "读取恢复标记失败: " and why it cannot be read. Links are followed.
std::expected<std::optional<std::string>, std::string> read_marker_bytes(const std::wstring& path);

// Reads the marker, checks its version and session, restores what it records, deletes it
// when everything came back and logs a summary. Success or a message text; a marker that was
// not fully restored always stays on disk for the main application's next start.
std::expected<void, std::string> restore_from_marker(std::wstring_view marker_path,
                                                     std::string_view expected_session_id);

// What became of the recorded items, in the order in which they were attempted.
struct ItemOutcomes {
    std::vector<std::string> failures;
    std::vector<std::string_view> restored;
};

// Restores the items that the marker records, the taskbar first, each whatever became of the
// other.
ItemOutcomes restore_recorded_items(const RecoveryMarker& marker);

// The failure messages joined with "; ".
std::string join_failures(const std::vector<std::string>& failures);

// The log summary of a complete run.
std::string restore_summary(const std::vector<std::string_view>& restored);

} // namespace watchdog
