#include "log/recovery_log.h"

#include "win/file_write.h"
#include "win/held_folder.h"
#include "win/path.h"

#include <windows.h>

namespace watchdog {
namespace {

constexpr std::uint64_t filetime_ticks_at_unix_epoch = 116444736000000000ULL;
constexpr std::uint64_t filetime_ticks_per_second = 10000000ULL;
// FILE_GENERIC_WRITE without FILE_WRITE_DATA: only FILE_APPEND_DATA remains, so every write
// lands at the file's current end even if another process appended in between.
constexpr DWORD append_only_access = FILE_GENERIC_WRITE & ~static_cast<DWORD>(FILE_WRITE_DATA);
// And the file's attributes, links and size, which decide whether it is written.
constexpr DWORD log_file_access = append_only_access | FILE_READ_ATTRIBUTES;

struct LogFile {
    UniqueHandle handle;
    std::uint64_t size = 0;
};

// The current log inside the held folder, created when missing, if it may be written: a link
// there, or a file with a second name, would let the line land anywhere on the volume.
std::optional<LogFile> open_log_file(const HeldFolder& folder) {
    auto file = open_in(folder.handle.get(), current_log_name,
                        {log_file_access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         Disposition::open_or_create});
    if (!file) {
        return std::nullopt;
    }
    const auto opened = inspect_file(file->get());
    if (!opened || is_link(*opened) || opened->links != 1) {
        return std::nullopt;
    }
    return LogFile{std::move(*file), opened->size};
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

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    if (filetime < filetime_ticks_at_unix_epoch) {
        return 0;
    }
    return (filetime - filetime_ticks_at_unix_epoch) / filetime_ticks_per_second;
}

void append_recovery_log(std::wstring_view marker_path, std::string_view tag,
                         std::string_view message) noexcept {
    try {
        const auto directory = log_directory_for(marker_path);
        if (!directory) {
            return;
        }
        // The log's folders are reached by the same rule as the marker's.
        const auto folder = hold_folder(*directory, true, this_process_trust());
        if (!folder) {
            return;
        }
        auto file = open_log_file(*folder);
        // The file that was checked becomes the previous generation, whatever stands at its name by
        // then. If that fails, the line goes to the oversized log, which loses nothing.
        if (file && file->size >= log_rotation_threshold &&
            rename_open_file(file->handle.get(), folder->handle.get(), previous_log_name, true)) {
            file = open_log_file(*folder);
        }
        if (!file) {
            return;
        }
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        const std::uint64_t seconds = unix_seconds_from_filetime(
            (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
        static_cast<void>(write_all(file->handle.get(), format_log_line(seconds, tag, message)));
    } catch (...) {
    }
}

} // namespace watchdog
