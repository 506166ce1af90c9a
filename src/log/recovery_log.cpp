#include "log/recovery_log.h"

#include "win/file_write.h"
#include "win/path.h"
#include "win/unique_resource.h"

#include <windows.h>

namespace watchdog {
namespace {

constexpr std::uint64_t filetime_ticks_at_unix_epoch = 116444736000000000ULL;
constexpr std::uint64_t filetime_ticks_per_second = 10000000ULL;
// FILE_GENERIC_WRITE without FILE_WRITE_DATA: only FILE_APPEND_DATA remains, so every write
// lands at the file's current end even if another process appended in between.
constexpr DWORD append_only_access = FILE_GENERIC_WRITE & ~static_cast<DWORD>(FILE_WRITE_DATA);

std::optional<std::uint64_t> size_from_metadata(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void rotate_if_full(const std::wstring& current, const std::wstring& previous) {
    const auto size = size_from_metadata(current);
    if (!size || *size < log_rotation_threshold) {
        return;
    }
    // Both results are ignored: if the rename fails the line goes to the oversized log, which
    // loses nothing.
    DeleteFileW(previous.c_str());
    MoveFileExW(current.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::uint64_t current_unix_seconds() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return unix_seconds_from_filetime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                      now.dwLowDateTime);
}

// The attributes of what was opened, not of the path: the handle was opened without following
// a link, so a link that is swapped in after the look is still the link that is looked at.
bool opened_plain(const UniqueHandle& handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return handle.valid() && GetFileInformationByHandle(handle.get(), &information) &&
           is_plain_log_location(information.dwFileAttributes);
}

// Held for the whole call without delete sharing, so that the folder cannot be renamed away
// and replaced by a link between the look and the writes.
UniqueHandle open_log_folder(const std::wstring& path) {
    return UniqueHandle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

void append_to_file(const std::wstring& path, std::string_view line) {
    const UniqueHandle file(CreateFileW(
        path.c_str(), append_only_access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened_plain(file)) {
        return;
    }
    // Best effort: a line the file does not take is lost.
    static_cast<void>(write_all(file.get(), line));
}

void append_line_beside(std::wstring_view marker_path, std::string_view tag,
                        std::string_view message) {
    const auto directory = log_directory_for(marker_path);
    if (!directory) {
        return;
    }
    const std::wstring folder_path = file_system_path(*directory);
    if (create_directory_tree(folder_path) != ERROR_SUCCESS) {
        return;
    }
    const UniqueHandle folder = open_log_folder(folder_path);
    if (!opened_plain(folder)) {
        return;
    }
    const std::wstring current = file_system_path(join_path(*directory, current_log_name));
    rotate_if_full(current, file_system_path(join_path(*directory, previous_log_name)));
    append_to_file(current, format_log_line(current_unix_seconds(), tag, message));
}

} // namespace

std::optional<std::wstring> log_directory_for(std::wstring_view marker_path) {
    const auto parent = parent_directory(marker_path);
    if (!parent) {
        return std::nullopt;
    }
    return join_path(*parent, log_directory_name);
}

std::string format_log_line(std::uint64_t unix_seconds, std::string_view tag,
                            std::string_view message) {
    std::string line = std::to_string(unix_seconds) + " [" + std::string(tag) + "] ";
    line.reserve(line.size() + message.size() + 1);
    for (const char c : message) {
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    line.push_back('\n');
    return line;
}

bool is_plain_log_location(std::uint32_t attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    if (filetime < filetime_ticks_at_unix_epoch) {
        return 0;
    }
    return (filetime - filetime_ticks_at_unix_epoch) / filetime_ticks_per_second;
}

void append_recovery_log(std::wstring_view marker_path, std::string_view tag,
                         std::string_view message) noexcept {
    try {
        append_line_beside(marker_path, tag, message);
    } catch (...) {
    }
}

} // namespace watchdog
