#pragma once

// Reaching a folder so that nobody of fewer rights decides where it is. The marker's folder and its
// `logs` folder belong to the user, while the watcher and its application may run elevated: a link
// on the way would let the user choose which file an administrator reads, writes, replaces or
// deletes. So folders are reached through held handles, one name at a time where need be.

#include "win/files.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// The failure of a folder behind a link that may not be followed, in the system's own code.
inline constexpr std::uint32_t untrusted_link_code = 448; // ERROR_UNTRUSTED_MOUNT_POINT

struct HeldFolder {
    UniqueHandle handle;
    std::wstring final_path; // as the handle gives it; empty where the system gives none
};

// Which links are followed on the way (`inspect` reads each opened name). A process that is not
// elevated follows every link: through one it can do nothing its user could not. An elevated one
// follows only a link an administrator or the system made (a profile moved to another drive, say).
struct LinkTrust {
    bool elevated = false;
    std::expected<OpenedFile, Win32Failure> (*inspect)(HANDLE) = inspect_file;
};

// The trust of this process: whether its token is elevated.
LinkTrust this_process_trust();

// The folder at `path` (made full first), held: opened by its name when no link is on the way,
// else reached one name at a time from its root, each link judged by `trust`, missing folders
// created inside the held one above when `create_missing` says so. untrusted_link_code for a link
// that may not be followed; a file in a folder's place fails as the system fails it.
std::expected<HeldFolder, Win32Failure> hold_folder(std::wstring_view path, bool create_missing,
                                                    const LinkTrust& trust);

// For an elevated process: has Windows refuse, process-wide, to follow a junction that a user who
// is not an administrator made (RedirectionGuard, Windows 10 22H2 and Windows 11); elsewhere the
// call is refused and nothing changes. A process that is not elevated is left as it is.
void refuse_untrusted_junctions();

} // namespace watchdog
