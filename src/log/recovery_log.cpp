#include "log/recovery_log.h"

#include "win/file_write.h"
#include "win/files.h"
#include "win/path.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

constexpr std::uint64_t filetime_ticks_at_unix_epoch = 116444736000000000ULL;
constexpr std::uint64_t filetime_ticks_per_second = 10000000ULL;
// FILE_GENERIC_WRITE without FILE_WRITE_DATA: only FILE_APPEND_DATA remains, so every write
// lands at the file's current end even if another process appended in between.
constexpr DWORD append_only_access = FILE_GENERIC_WRITE & ~static_cast<DWORD>(FILE_WRITE_DATA);
// And the file's attributes, links and size, which decide whether it is written.
constexpr DWORD log_file_access = append_only_access | FILE_READ_ATTRIBUTES;

std::uint64_t current_unix_seconds() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return unix_seconds_from_filetime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                      now.dwLowDateTime);
}

// A log folder held open, and the place it was checked to be at.
struct HeldFolder {
    UniqueHandle handle;
    std::wstring path;
};

// What the handle refers to. Where the system gave no final path, the path on the volume stands
// in, put under the drive that `path` starts with if that drive is the very volume.
std::expected<OpenedFile, Win32Failure> opened_at(HANDLE handle, std::wstring_view path) {
    auto opened = opened_file(handle);
    if (!opened || !opened->final_path.empty()) {
        return opened;
    }
    std::wstring_view rest = path;
    if (rest.starts_with(L"\\\\?\\")) {
        rest.remove_prefix(4);
    }
    if (rest.size() < 2 || rest[1] != L':' || opened->volume_path.empty()) {
        return opened;
    }
    const std::wstring drive = std::wstring(rest.substr(0, 2)) + L"\\";
    DWORD serial = 0;
    if (GetVolumeInformationW(drive.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) &&
        serial == opened->volume_serial) {
        opened->final_path = L"\\\\?\\" + drive.substr(0, 2) + opened->volume_path;
    }
    return opened;
}

bool checked_folder(const HeldFolder& folder) {
    const auto opened = opened_at(folder.handle.get(), folder.path);
    return opened && is_log_folder_at(*opened, folder.path);
}

// The name that `path` adds to its parent.
std::wstring last_name(const std::wstring& path, const std::wstring& parent) {
    std::size_t start = parent.size();
    while (start < path.size() && (path[start] == L'\\' || path[start] == L'/')) {
        ++start;
    }
    return path.substr(start);
}

// The log folder, reached from the deepest folder on its path that exists already: that one is
// opened by its name and must be exactly where the name says, no link on the way; every folder
// below it is created or opened through the one above, never through a name that could be
// pointed elsewhere meanwhile. Each is held while the next is opened, and checked: nothing is
// created anywhere but inside a folder checked to be on the log folder's path.
std::optional<HeldFolder> open_log_folder(std::wstring_view directory) {
    const auto full = full_path(directory);
    if (!full) {
        return std::nullopt;
    }
    std::wstring existing = *full;
    std::vector<std::wstring> missing; // the names below `existing`, the deepest first
    while (GetFileAttributesW(file_system_path(existing).c_str()) == INVALID_FILE_ATTRIBUTES) {
        const auto parent = parent_directory(existing);
        if (!parent || parent->empty() || *parent == existing) {
            return std::nullopt;
        }
        missing.push_back(last_name(existing, *parent));
        existing = *parent;
    }
    auto held = open_held_folder(file_system_path(existing));
    if (!held) {
        return std::nullopt;
    }
    HeldFolder folder{std::move(*held), existing};
    if (!checked_folder(folder)) {
        // The name may hold short (8.3) names, which a final path never does: its long form gets
        // a second look. Only then, since making it reads every folder on the way.
        folder.path = long_path(file_system_path(existing)).value_or(existing);
        if (!checked_folder(folder)) {
            return std::nullopt;
        }
    }
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        auto opened = open_held_folder_in(folder.handle.get(), *name);
        if (!opened) {
            return std::nullopt;
        }
        HeldFolder inner{std::move(*opened), join_path(folder.path, *name)};
        if (!checked_folder(inner)) {
            return std::nullopt;
        }
        folder = std::move(inner);
    }
    return folder;
}

struct LogFile {
    UniqueHandle handle;
    std::uint64_t size = 0;
};

// The current log inside the held folder, created when missing, if it may be written.
std::optional<LogFile> open_log_file(const HeldFolder& folder) {
    auto file = open_file_in(folder.handle.get(), current_log_name, log_file_access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!file) {
        return std::nullopt;
    }
    const auto opened = opened_at(file->get(), folder.path);
    if (!opened || !is_log_file_in(*opened, folder.path)) {
        return std::nullopt;
    }
    return LogFile{std::move(*file), opened->size};
}

void append_line_beside(std::wstring_view marker_path, std::string_view tag,
                        std::string_view message) {
    const auto directory = log_directory_for(marker_path);
    if (!directory) {
        return;
    }
    const auto folder = open_log_folder(*directory);
    if (!folder) {
        return;
    }
    auto file = open_log_file(*folder);
    if (!file) {
        return;
    }
    // The file that was checked becomes the previous generation, whatever stands at its name by
    // then. If that fails, the line goes to the oversized log, which loses nothing.
    if (file->size >= log_rotation_threshold &&
        rename_open_file(file->handle.get(), folder->handle.get(), previous_log_name).has_value()) {
        file = open_log_file(*folder);
        if (!file) {
            return;
        }
    }
    // Best effort: a line the file does not take is lost.
    static_cast<void>(
        write_all(file->handle.get(), format_log_line(current_unix_seconds(), tag, message)));
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

bool is_log_folder_at(const OpenedFile& folder, std::wstring_view path) {
    return (folder.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           is_plain_log_location(folder.attributes) && names_same_place(folder.final_path, path);
}

bool is_log_file_in(const OpenedFile& file, std::wstring_view folder_path) {
    const auto folder = parent_directory(file.final_path);
    return (file.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           is_plain_log_location(file.attributes) && file.links == 1 && folder &&
           names_same_place(*folder, folder_path);
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
