#include "restore/restore_run.h"

#include "desktop_icons/icon_visibility.h"
#include "log/recovery_log.h"
#include "marker/recovery_marker.h"
#include "taskbar/taskbar_restore.h"
#include "win/error_text.h"
#include "win/files.h"
#include "win/path.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <optional>

namespace watchdog {
namespace {

constexpr std::string_view parse_failed_prefix = "解析恢复标记失败: ";
constexpr std::string_view unsupported_version_prefix = "不支持的系统状态恢复标记版本: ";
constexpr std::string_view taskbar_failed_prefix = "恢复任务栏失败: ";
constexpr std::string_view desktop_icons_failed_prefix = "恢复桌面图标失败: ";
constexpr std::string_view restored_summary_prefix = "系统状态恢复完成: ";
constexpr std::string_view nothing_recorded_summary = "恢复检查完成，无待恢复系统状态";
constexpr DWORD share_everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string prefixed(std::string_view prefix, std::string_view message) {
    std::string text(prefix);
    text.append(message);
    return text;
}

// Opening the path (not the link itself) follows links, so a dangling link counts as absent.
bool marker_exists(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_everything,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file.valid() && GetFileInformationByHandle(file.get(), &information);
}

// A main application restarted after a crash may already have put its next marker at the path
// while this run restored the previous one's desktop: only the marker that was read is deleted.
// One that is gone or holds other bytes is left, and the run ends as if it had been deleted.
std::expected<void, std::string> delete_marker_that_was_read(const std::wstring& path,
                                                             std::string_view read_bytes) {
    const auto deletion =
        delete_file_if(path, [read_bytes](std::string_view now) { return now == read_bytes; });
    if (!deletion) {
        return std::unexpected(prefixed(delete_failed_prefix, file_error_text(deletion.error())));
    }
    return {};
}

} // namespace

// Both items are always attempted, the taskbar first: one failing must not leave the other
// broken.
ItemOutcomes restore_recorded_items(const RecoveryMarker& marker) {
    ItemOutcomes outcomes;
    if (marker.taskbar) {
        const auto taskbar = restore_taskbar(*marker.taskbar);
        if (taskbar) {
            outcomes.restored.push_back(taskbar_item_name);
        } else {
            outcomes.failures.push_back(prefixed(taskbar_failed_prefix, taskbar.error()));
        }
    }
    if (marker.desktopIcons) {
        const auto icons = restore_desktop_icons(marker.desktopIcons->originalVisible);
        if (icons) {
            outcomes.restored.push_back(desktop_icons_item_name);
        } else {
            outcomes.failures.push_back(prefixed(desktop_icons_failed_prefix, icons.error()));
        }
    }
    return outcomes;
}

// The common case opens the file once; only when that fails does a second look tell a missing
// marker from one that cannot be read.
std::expected<std::optional<std::string>, std::string> read_marker_bytes(const std::wstring& path) {
    const auto file =
        handle_or_failure(CreateFileW(path.c_str(), GENERIC_READ, share_everything, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (!marker_exists(path)) {
            return std::nullopt;
        }
        return std::unexpected(prefixed(read_failed_prefix, file_error_text(file.error())));
    }
    auto content = read_to_end(file->get());
    if (!content) {
        return std::unexpected(prefixed(read_failed_prefix, file_error_text(content.error())));
    }
    return std::move(*content);
}

std::string join_failures(const std::vector<std::string>& failures) {
    std::string joined;
    for (std::size_t i = 0; i < failures.size(); ++i) {
        joined.append(i == 0 ? "" : "; ").append(failures[i]);
    }
    return joined;
}

std::string restore_summary(const std::vector<std::string_view>& restored) {
    if (restored.empty()) {
        return std::string(nothing_recorded_summary);
    }
    std::string summary(restored_summary_prefix);
    for (std::size_t i = 0; i < restored.size(); ++i) {
        summary.append(i == 0 ? "" : "、").append(restored[i]);
    }
    return summary;
}

std::expected<void, std::string> restore_from_marker(std::wstring_view marker_path,
                                                     std::string_view expected_session_id) {
    const std::wstring path = file_system_path(marker_path);
    const auto bytes = read_marker_bytes(path);
    if (!bytes) {
        return std::unexpected(bytes.error());
    }
    if (!*bytes) {
        return {};
    }
    const auto marker = parse_recovery_marker(**bytes);
    if (!marker) {
        return std::unexpected(prefixed(parse_failed_prefix, marker.error()));
    }
    if (marker->version != 1) {
        return std::unexpected(
            prefixed(unsupported_version_prefix, std::to_string(marker->version)));
    }
    // Another session's marker belongs to another run of the main application: leave it alone.
    if (marker->sessionId != expected_session_id) {
        return {};
    }
    const ItemOutcomes outcomes = restore_recorded_items(*marker);
    if (!outcomes.failures.empty()) {
        return std::unexpected(join_failures(outcomes.failures));
    }
    if (const auto deleted = delete_marker_that_was_read(path, **bytes); !deleted) {
        return deleted;
    }
    append_recovery_log(marker_path, restore_log_tag, restore_summary(outcomes.restored));
    return {};
}

} // namespace watchdog
