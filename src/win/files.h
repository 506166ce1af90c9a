#pragma once

// Whole-file reads and a deletion that cannot remove a file somebody else has just put in the
// place of the one that was read. Failures carry the Win32 error code; callers make the text.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace watchdog {

// Everything from the file's current position to its end.
std::expected<std::string, std::uint32_t> read_to_end(HANDLE file);

// The signature of SetFileInformationByHandle, so that tests can see which deletion is asked.
using SetFileInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Deletes the file open at `file` (opened with DELETE access). The name goes at once, even
// while a scanner or the indexer holds the file open with delete sharing (POSIX semantics,
// Windows 10 1607 and later); where that form is refused, the classic deletion is used, whose
// name stays until the last handle closes.
std::expected<void, std::uint32_t>
delete_open_file(HANDLE file, SetFileInformation set_information = SetFileInformationByHandle);

enum class ConditionalDeletion {
    deleted,
    kept,   // the file held something else: it was left as it is
    absent, // no file was there any more
};

// Deletes the file at `path` only if `still_ours` says yes to the bytes it holds now. The file
// is held open without write or delete sharing from the comparison to the deletion (it is
// deleted through that very handle), so no writer can change or replace it in between; a writer
// that tries meanwhile gets a sharing violation. A file somebody else holds open without delete
// sharing fails with ERROR_SHARING_VIOLATION, a read-only one with ERROR_ACCESS_DENIED.
std::expected<ConditionalDeletion, std::uint32_t>
delete_file_if(const std::wstring& path, const std::function<bool(std::string_view)>& still_ours);

} // namespace watchdog
