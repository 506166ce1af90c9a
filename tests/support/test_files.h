#pragma once

// Real files for tests: a fresh folder per test, removed afterwards, and whole-file I/O.

#include "win/unique_resource.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {

struct FileSearchTraits {
    using Value = HANDLE;
    static Value none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_none(Value value) noexcept {
        return value == nullptr || value == INVALID_HANDLE_VALUE;
    }
    static void close(Value value) noexcept { FindClose(value); }
};
using UniqueFileSearch = UniqueResource<FileSearchTraits>;

struct TempDirectory {
    std::wstring path;

    TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory();
};

std::optional<std::string> read_file(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& content);
bool file_exists(const std::wstring& path);
// The short (8.3) form of an existing path; empty when it cannot be had.
std::wstring short_path_of(const std::wstring& path);
void remove_tree(const std::wstring& path);

// The lines of a recovery log with their timestamps cut off ("[tag] message"); none when the
// log does not exist.
std::vector<std::string> log_lines_without_time(const std::wstring& log);

} // namespace watchdog::testing
