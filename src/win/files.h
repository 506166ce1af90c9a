#pragma once

// Whole-file reads and a deletion that cannot remove a file somebody else has just put in the
// place of the one that was read. Failures are Win32Failures; callers make the text.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace watchdog {

// Everything from the file's current position to its end.
std::expected<std::string, Win32Failure> read_to_end(HANDLE file);

// The signature of SetFileInformationByHandle, so that tests can see which deletion is asked.
using SetFileInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Deletes the file open at `file` (opened with DELETE access). The name goes at once, even
// while a scanner or the indexer holds the file open with delete sharing (POSIX semantics,
// Windows 10 1607 and later); where that form is refused, the classic deletion is used, whose
// name stays until the last handle closes.
std::expected<void, Win32Failure>
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
std::expected<ConditionalDeletion, Win32Failure>
delete_file_if(const std::wstring& path, const std::function<bool(std::string_view)>& still_ours);

// Folders and files reached through a folder that is held open, so that what was opened, not a
// name that somebody may point elsewhere meanwhile, decides where a write lands.

// Opens the folder at `path` to hold it: without delete sharing, so that it can be neither
// renamed nor removed while it is held, and with traverse access, without which the system
// would not count the sharing at all (an open for attributes alone leaves sharing unchecked).
// A link as the last name is opened itself, not followed.
std::expected<UniqueHandle, Win32Failure> open_held_folder(const std::wstring& path);

// The folder `name` inside the open `folder`, created when it is missing, held the same way. It
// is looked up through the handle, not through a path, and a link of that name is opened itself.
std::expected<UniqueHandle, Win32Failure> open_held_folder_in(HANDLE folder,
                                                              std::wstring_view name);

// The file `name` inside the open `folder`, created when it is missing, with `access` and
// `sharing`; looked up through the handle, and a link of that name is opened itself.
std::expected<UniqueHandle, Win32Failure> open_file_in(HANDLE folder, std::wstring_view name,
                                                       std::uint32_t access, std::uint32_t sharing);

// What an open handle refers to: its attributes, its number of names (hard links) and size,
// and its final path, every link resolved (GetFinalPathNameByHandleW, a \\?\ form). Where the
// system cannot give the final path (some give none beyond MAX_PATH), it is empty, and the path
// on its volume (FILE_NAME_INFO, links resolved as well) stands in with the volume's serial.
struct OpenedFile {
    std::uint32_t attributes = 0;
    std::uint32_t links = 0;
    std::uint64_t size = 0;
    std::wstring final_path;
    std::uint32_t volume_serial = 0;
    std::wstring volume_path; // only where final_path is empty: "\\folder\\name"
};

std::expected<OpenedFile, Win32Failure> opened_file(HANDLE handle);

// Renames the open `file` to `name` inside the open `folder`, replacing a file of that name.
// Asks for delete access on the file itself, not on a name, for this call only.
std::expected<void, Win32Failure> rename_open_file(HANDLE file, HANDLE folder,
                                                   std::wstring_view name);

} // namespace watchdog
