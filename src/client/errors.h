#pragma once

// How the library's operations say what went wrong: one Error for every call, in its own messages.

#include <system_state_watchdog/client.hpp>

#include "win/utf.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog::client {

inline std::unexpected<Error> fail(Code code, std::string message) {
    return std::unexpected(Error{code, std::move(message)});
}

// "<what failed><the path or program it was about>: <why>", so that a message read in a log far
// from the call still says which file or program it meant.
inline std::string about(std::string_view what, std::wstring_view subject, std::string_view why) {
    std::string text(what);
    text.append(utf16_to_utf8(subject));
    if (!why.empty()) {
        text.append(": ").append(why);
    }
    return text;
}

// "<message> (<path>)", for a message made elsewhere (a restore run's, which is also a log line).
inline std::string naming(std::string_view message, std::wstring_view subject) {
    return std::string(message) + " (" + utf16_to_utf8(subject) + ")";
}

// A session id that a call can act on: non-empty (no run can be told apart by nothing) and
// well-formed UTF-8 (a marker holds it as JSON text, the watchdog's command line as UTF-16).
std::expected<void, Error> check_session_id(std::string_view session_id);

// The messages, fixed UTF-8 literals: a prefix ending in ": " comes before the subject and reason.
inline constexpr std::string_view marker_unsettled_prefix =
    "恢复标记尚未处理，先处理或丢弃它才能记录桌面: ";
inline constexpr std::string_view nothing_to_record_message = "没有指定要记录的项目";
inline constexpr std::string_view write_failed_prefix = "写入恢复标记失败: ";
inline constexpr std::string_view invalid_session_message = "会话标识不是有效的 UTF-8";
inline constexpr std::string_view empty_session_message = "会话标识为空";
inline constexpr std::string_view live_run_prefix = "恢复标记属于仍在运行的会话: ";
inline constexpr std::string_view live_run_with_rights_prefix =
    "恢复标记属于以其他权限运行的会话 (例如以管理员身份运行的实例): ";
inline constexpr std::string_view watcher_busy_prefix =
    "会话锁在等待时限内未被释放，看门狗可能仍在恢复该会话: ";
inline constexpr std::string_view name_taken_prefix = "会话对象的名称已被另一种对象占用: ";
inline constexpr std::string_view presence_unknown_prefix = "无法确认会话是否仍在运行: ";
inline constexpr std::string_view discarded_message = "已按调用方要求丢弃恢复标记";
inline constexpr std::string_view presence_failed_prefix = "无法标记会话仍在运行: ";
inline constexpr std::string_view lock_failed_prefix = "无法创建会话锁: ";
inline constexpr std::string_view item_protected_prefix = "此桌面上另一个运行正在保护该项目: ";
inline constexpr std::string_view item_guard_failed_prefix = "无法创建项目保护对象: ";
inline constexpr std::string_view protection_ended_message = "该保护已经结束";
inline constexpr std::string_view nothing_recorded_message = "没有记录桌面";
inline constexpr std::string_view no_marker_prefix = "没有恢复标记: ";
inline constexpr std::string_view other_session_prefix = "恢复标记属于另一个会话，已保持原样: ";
inline constexpr std::string_view taskbar_did_not_appear_prefix = "Windows 任务栏在 ";
inline constexpr std::string_view icons_did_not_appear_prefix = "Windows 桌面图标窗口在 ";
inline constexpr std::string_view did_not_appear_suffix = " 秒内未出现";
inline constexpr std::string_view marker_path_invalid_prefix = "恢复标记路径无效: ";

inline constexpr std::string_view relative_watchdog_prefix =
    "系统状态看门狗的路径必须是完整路径，不能是相对路径: ";
inline constexpr std::string_view own_path_unknown_prefix =
    "无法取得本程序的完整路径，因而无法确定其旁边的系统状态看门狗: ";
inline constexpr std::string_view launcher_not_created_prefix = "无法启动系统状态看门狗: ";
inline constexpr std::string_view usage_error_prefix = "系统状态看门狗拒绝了启动参数 (退出码 2): ";
inline constexpr std::string_view path_unavailable_prefix =
    "系统状态看门狗无法取得自身路径 (退出码 3): ";
inline constexpr std::string_view watcher_not_created_prefix =
    "系统状态看门狗未能创建监视进程 (退出码 4): ";
inline constexpr std::string_view launcher_not_ended_prefix =
    "系统状态看门狗启动器在半分钟内没有结束，也无法终止: ";
inline constexpr std::string_view launcher_did_not_end_prefix =
    "系统状态看门狗启动器在半分钟内没有结束，已将其终止: ";
inline constexpr std::string_view unexpected_exit_prefix =
    "系统状态看门狗启动器以意外的退出码结束: ";

} // namespace watchdog::client
