#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

// Who wrote a line: the watcher (and whoever reports a failed restore run the way it does), the
// restore run's summary, and the main application's client library for what it did by itself.
inline constexpr std::string_view watchdog_log_tag = "watchdog";
inline constexpr std::string_view restore_log_tag = "restore";
inline constexpr std::string_view client_log_tag = "client";

inline constexpr std::uint64_t log_rotation_threshold = 524288;
inline constexpr std::wstring_view log_directory_name = L"logs";
inline constexpr std::wstring_view current_log_name = L"system-state-recovery.log";
inline constexpr std::wstring_view previous_log_name = L"system-state-recovery.previous.log";

// Appends one line to the log beside the marker, best effort and never throwing: a line that
// cannot be composed or written is lost, and what the caller does never changes for it.
void append_recovery_log(std::wstring_view marker_path, std::string_view tag,
                         std::string_view message) noexcept;

// The `logs` folder beside the marker; nothing when parent_directory gives none (C:\, say).
std::optional<std::wstring> log_directory_for(std::wstring_view marker_path);

// "<seconds> [<tag>] <message>\n" with CR and LF in the message turned into spaces, so that
// every call adds exactly one line.
std::string format_log_line(std::uint64_t unix_seconds, std::string_view tag,
                            std::string_view message);

// Whole seconds since 1970 for a FILETIME count of 100 ns intervals since 1601; 0 before 1970.
std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime);

} // namespace watchdog
