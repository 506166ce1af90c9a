#include "restore/restore_run.h"

#include "desktop_icons/icon_visibility.h"
#include "log/recovery_log.h"
#include "marker_file/marker_file.h"
#include "taskbar/taskbar_restore.h"

namespace watchdog {
namespace {

constexpr std::string_view taskbar_failed_prefix = "恢复任务栏失败: ";
constexpr std::string_view desktop_icons_failed_prefix = "恢复桌面图标失败: ";
constexpr std::string_view restored_summary_prefix = "系统状态恢复完成: ";
constexpr std::string_view nothing_recorded_summary = "恢复检查完成，无待恢复系统状态";

template <typename Texts> std::string joined(const Texts& texts, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        text.append(i == 0 ? "" : separator).append(texts[i]);
    }
    return text;
}

} // namespace

ItemOutcomes restore_recorded_items(const RecoveryMarker& marker, BoundedWorker& worker) {
    ItemOutcomes outcomes;
    const auto note = [&outcomes](const std::expected<void, std::string>& restored,
                                  std::string_view item, std::string_view failed_prefix) {
        if (restored) {
            outcomes.restored.push_back(item);
        } else {
            outcomes.failures.push_back(std::string(failed_prefix) + restored.error());
        }
    };
    if (marker.taskbar) {
        note(restore_taskbar(*marker.taskbar, worker), taskbar_item_name, taskbar_failed_prefix);
    }
    if (marker.desktopIcons) {
        note(restore_desktop_icons(marker.desktopIcons->originalVisible), desktop_icons_item_name,
             desktop_icons_failed_prefix);
    }
    return outcomes;
}

std::vector<GuardedItem> recorded_items(const RecoveryMarker& marker) {
    std::vector<GuardedItem> items;
    if (marker.taskbar) {
        items.push_back(GuardedItem::taskbar);
    }
    if (marker.desktopIcons) {
        items.push_back(GuardedItem::desktop_icons);
    }
    return items;
}

std::string join_failures(const std::vector<std::string>& failures) {
    return joined(failures, "; ");
}

std::expected<RestoreRun, std::string> restore_from_marker(std::wstring_view marker_path,
                                                           std::string_view expected_session_id,
                                                           BoundedWorker& worker) {
    const SessionMarker read = *read_session_marker(worker, marker_path, expected_session_id);
    switch (read.verdict) {
    // A marker whose attributes cannot even be had counts as none, as it always has here.
    case MarkerVerdict::absent:
    case MarkerVerdict::unknown:
        return RestoreRun::no_marker;
    case MarkerVerdict::unreadable:
    case MarkerVerdict::invalid:
    case MarkerVerdict::unsupported_version:
        return std::unexpected(read.failure);
    // Another session's marker belongs to another run of the main application: leave it alone.
    case MarkerVerdict::other_session:
        return RestoreRun::other_session;
    case MarkerVerdict::this_session:
        break;
    }
    const ItemOutcomes outcomes = restore_recorded_items(read.marker, worker);
    if (!outcomes.failures.empty()) {
        return std::unexpected(join_failures(outcomes.failures));
    }
    // A main application restarted after a crash may have put its next marker at the path
    // meanwhile: only the marker that was read is deleted. One that is gone or holds other bytes
    // is left, and the run ends as if it had been deleted.
    const auto deleted = delete_marker_file(
        worker, marker_path, [bytes = read.bytes](std::string_view now) { return now == bytes; });
    if (!deleted) {
        return std::unexpected(std::string(delete_failed_prefix) + deleted.error());
    }
    const std::string summary = outcomes.restored.empty() ? std::string(nothing_recorded_summary)
                                                          : std::string(restored_summary_prefix) +
                                                                joined(outcomes.restored, "、");
    append_recovery_log(marker_path, restore_log_tag, summary);
    return RestoreRun::restored;
}

} // namespace watchdog
