#pragma once

#include "win/files.h"

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

// Appends one line to the log beside the marker. Best effort: the log is the only report a
// windowless program has, but failing to write it must never change what the caller does.
// It never throws: a line that cannot even be composed is lost like one that cannot be written.
void append_recovery_log(std::wstring_view marker_path, std::string_view tag,
                         std::string_view message) noexcept;

// The `logs` folder for a marker path, or nothing when the path has no parent folder
// (empty, or only a drive and/or root such as C:\).
std::optional<std::wstring> log_directory_for(std::wstring_view marker_path);

// "<seconds> [<tag>] <message>\n" with CR and LF in the message turned into spaces, so that
// every call adds exactly one line.
std::string format_log_line(std::uint64_t unix_seconds, std::string_view tag,
                            std::string_view message);

// Whether the log may be written through something with these file attributes. A reparse point
// (a junction or a symbolic link) is refused: the marker's folder is writable by any of the
// user's processes, and an elevated watcher must not create, append to or replace files
// wherever such a link points.
bool is_plain_log_location(std::uint32_t attributes);

// Whether the log may go through a folder that was opened as the one at `path`: a folder, no
// link itself, and found where `path` says once every link is resolved. A link anywhere on the
// way (the marker's folder or one above it made a junction, a second name for a drive) makes
// the final path differ.
bool is_log_folder_at(const OpenedFile& folder, std::wstring_view path);

// Whether the log may be written to a file that was opened in the folder at `folder_path`: a
// file, no link, in that very folder, and with no second name: a hard link would let the line
// land in a file anywhere else on the volume.
bool is_log_file_in(const OpenedFile& file, std::wstring_view folder_path);

// Whole seconds since 1970 for a FILETIME count of 100 ns intervals since 1601; 0 before 1970.
std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime);

} // namespace watchdog
