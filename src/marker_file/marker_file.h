#pragma once

// The marker's file, for the watcher, the restore run and the client library alike: every look
// at it, read, write and deletion goes through here and its held folder (win/held_folder.h). The
// library always writes a fresh file and renames it into place, so a marker that is a link or has
// a second name (a hard link) is never its own: it is refused, and nothing is read, restored,
// written, replaced or deleted through it.

#include "marker/records.h"
#include "win/bounded_call.h"
#include "win/held_folder.h"

#include <chrono>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view read_failed_prefix = "读取恢复标记失败: ";
inline constexpr std::string_view delete_failed_prefix = "删除恢复标记失败: ";
inline constexpr std::string_view parse_failed_prefix = "解析恢复标记失败: ";
inline constexpr std::string_view unsupported_version_prefix = "不支持的系统状态恢复标记版本: ";
inline constexpr std::string_view marker_is_link_message =
    "恢复标记是一个链接或另有名称 (硬链接)，不是写入它的程序所留下的文件，已拒绝处理";
inline constexpr std::string_view untrusted_link_message =
    "通往恢复标记的路径上有一个非管理员创建的链接，已拒绝跟随";
inline constexpr std::string_view marker_stalled_message = "对恢复标记的读取或删除在 2 秒内未完成";

// The longest a look at the marker, its read or its deletion may take: an oplock break never
// acknowledged or a share gone silent must not keep the watcher from its main process's end or
// from finishing a restore.
inline constexpr std::chrono::milliseconds marker_file_wait{2000};

enum class MarkerVerdict {
    absent,              // not found
    unknown,             // its attributes cannot be had (access denied, a device not ready)
    unreadable,          // it is there but cannot be read now, or is refused (see `failure`)
    invalid,             // not a marker
    unsupported_version, // a marker, of another version than 1
    other_session,       // a version 1 marker of another session
    this_session,        // a version 1 marker of the session asked for
};

// The marker as one read found it.
struct SessionMarker {
    MarkerVerdict verdict = MarkerVerdict::absent;
    std::string failure; // unknown, unreadable, invalid, unsupported_version: the message
    std::string bytes;   // as read, for every verdict from invalid on
    RecoveryMarker marker;
    // The marker as opened: its folder's final path and its name as the folder holds it (its long
    // name), in upper case, so that every name of one marker gives one text.
    std::wstring identity;
};

// Reads the marker at `path` once on `worker`, parses it and checks its version, then its session
// against `session` (any when none), waiting at most marker_file_wait (a longer read cannot be
// read now); nothing when `interrupt` (a process handle, say) is signalled first.
std::optional<SessionMarker> read_session_marker(BoundedWorker& worker, std::wstring_view path,
                                                 std::optional<std::string_view> session,
                                                 HANDLE interrupt = nullptr,
                                                 const LinkTrust& trust = this_process_trust());

enum class MarkerDeletion { deleted, kept, absent };

// Deletes the marker only while `still_ours` accepts its bytes, through the handle they were read
// with (no writer can change it in between), on `worker` within marker_file_wait. kept: it held
// other bytes; absent: it was gone; a message when it could not be deleted.
std::expected<MarkerDeletion, std::string>
delete_marker_file(BoundedWorker& worker, std::wstring_view path,
                   std::function<bool(std::string_view)> still_ours,
                   const LinkTrust& trust = this_process_trust());

enum class MarkerWrite {
    first,   // a run's first marker: never moved over another one
    rewrite, // the run's own marker again: replaced in one step
};

enum class Written { written, another_marker_there };

// Writes the bytes into a new file beside the marker (its folder created if need be), flushed,
// then renamed into place; on failure nothing is left of it. A rewrite of a marker held open for
// a moment (a watcher comparing it before a deletion) is tried again for half a second.
std::expected<Written, std::string>
write_marker_file(std::wstring_view path, std::string_view bytes, MarkerWrite write,
                  const LinkTrust& trust = this_process_trust());

// The identity (see SessionMarker) of the marker at `path`, whether it or its folder is there or
// not. Where no folder on its way can be had, the full path in upper case stands in.
std::wstring marker_identity(std::wstring_view path, const LinkTrust& trust = this_process_trust());

} // namespace watchdog
