#pragma once

#include "marker/records.h"
#include "session/run_hold.h"
#include "win/bounded_call.h"

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

inline constexpr std::string_view taskbar_item_name = "任务栏";
inline constexpr std::string_view desktop_icons_item_name = "桌面图标";

enum class RestoreRun {
    no_marker,     // none at the path (or none whose attributes could be had)
    other_session, // left as it is
    restored,      // everything it recorded is back, and it is gone
};

// Reads the marker, checks its version and session, restores what it records, deletes it when
// everything came back and logs a summary, file work and shell calls bounded on `worker`. A message
// on failure; a marker not fully restored always stays for the main application's next start.
std::expected<RestoreRun, std::string> restore_from_marker(std::wstring_view marker_path,
                                                           std::string_view expected_session_id,
                                                           BoundedWorker& worker);

// What became of the recorded items, in the order in which they were attempted.
struct ItemOutcomes {
    std::vector<std::string> failures;
    std::vector<std::string_view> restored;
};

// Restores the items that the marker records, the taskbar first, each whatever became of the
// other: one failing must not leave the other broken.
ItemOutcomes restore_recorded_items(const RecoveryMarker& marker, BoundedWorker& worker);

// The items that the marker records, the taskbar first.
std::vector<GuardedItem> recorded_items(const RecoveryMarker& marker);

// The failure messages joined with "; ".
std::string join_failures(const std::vector<std::string>& failures);

} // namespace watchdog
