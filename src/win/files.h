#pragma once

// Files and folders reached through a folder that is held open, so that what was opened, not a
// name that somebody may point elsewhere meanwhile, decides where a read, write or deletion lands.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// Everything from the file's current position to its end.
std::expected<std::string, Win32Failure> read_to_end(HANDLE file);

// The signature of SetFileInformationByHandle, so that tests can see which deletion is asked.
using SetFileInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Deletes the file open at `file` (opened with DELETE access). Its name goes at once, even while
// a scanner holds the file open with delete sharing (POSIX semantics, Windows 10 1607 on); where
// that is refused, the classic deletion, whose name stays until the last handle closes.
std::expected<void, Win32Failure>
delete_open_file(HANDLE file, SetFileInformation set_information = SetFileInformationByHandle);

enum class Disposition { existing, create_new, open_or_create };
enum class OpenKind { file, folder, either };

struct OpenRequest {
    std::uint32_t access = 0;
    std::uint32_t sharing = 0;
    Disposition disposition = Disposition::existing;
    OpenKind kind = OpenKind::file; // a folder is created as one; a file is never a folder
    bool follow_link = false;       // a link of that name is followed; otherwise opened itself
};

// `name` inside the open `folder`, looked up through the handle, not a path. Folders are opened
// to be held: with traverse access (without it the system ignores their sharing) and without
// delete sharing, so that they can be neither renamed nor removed while held.
std::expected<UniqueHandle, Win32Failure> open_in(HANDLE folder, std::wstring_view name,
                                                  const OpenRequest& request);

// What an open handle refers to. The final path has every link resolved (a \\?\ form); where the
// system gives none (Wine beyond MAX_PATH), the path on the volume under the drive of that volume.
struct OpenedFile {
    std::uint32_t attributes = 0;
    std::uint32_t reparse_tag = 0; // for a reparse point
    std::uint32_t links = 0;       // its names (hard links)
    std::uint64_t size = 0;
    std::wstring final_path;
    bool made_by_administrator = false; // for a link: owned by the administrators or the system
};

std::expected<OpenedFile, Win32Failure> inspect_file(HANDLE handle);

// A junction, a mount point or a symbolic link: a reparse point that names another place. Other
// reparse points (a file in the cloud, deduplicated data) are the file itself.
bool is_link(const OpenedFile& file);

// Renames the open `file` to `name` inside the open `folder`, replacing a file of that name when
// `replace` says so (a link standing there is replaced, not followed). Asks for delete access on
// the file itself, not on a name, for this call only; the file must share deletion.
std::expected<void, Win32Failure> rename_open_file(HANDLE file, HANDLE folder,
                                                   std::wstring_view name, bool replace);

} // namespace watchdog
