#pragma once

// Lexical handling of Windows paths. The product avoids std::filesystem, which alone would
// triple the size of the statically linked executable.

#include "win/win32_failure.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace watchdog {

// Length of the root: a drive ("C:" or "C:\"), a UNC share ("\\server\share\"), a device or
// verbatim prefix ("\\?\C:\", "\\?\UNC\server\share\", "\\.\device\"), a lone separator, or 0.
std::size_t path_root_length(std::wstring_view path);

// Whether `path` names one place whatever the current drive and folder are: a drive and its root
// ("C:\x"), a UNC share, or a device or verbatim path. "x", "C:x" and "\x" are relative.
bool is_full_path(std::wstring_view path);

// The path without its last component, separators at its end ignored. Nothing when there is
// no component to remove (empty, or only a root such as C:\). "marker.json" gives "".
std::optional<std::wstring> parent_directory(std::wstring_view path);

// Joins with one separator; an empty base gives the name alone, and "C:" gives "C:name".
std::wstring join_path(std::wstring_view base, std::wstring_view name);

// The full form of `path` (GetFullPathNameW: relative to the current folder, ".", ".." and "/"
// resolved), or why the system cannot make one.
std::expected<std::wstring, Win32Failure> full_path(std::wstring_view path);

// The text that every process meaning the same file makes of `path`: its full form, without an
// extended-length prefix or separators at its end, in upper case (file names compare without
// regard to case). For names derived from a path; never for a file call.
std::wstring comparable_path(std::wstring_view path);

// The form of `path` for file calls: as it is while its full form is shorter than 248 characters
// (a classic path ends at MAX_PATH, 260 with the zero, a directory's at 248 to leave room for an
// 8.3 name in it), else its full form (".", ".." and "/" resolved, which the extended form would
// not do) in the extended-length form, which works whether or not long classic paths are enabled.
std::wstring file_system_path(std::wstring_view path);

// Whether `final_path`, as GetFinalPathNameByHandleW gives it, names the place that `path`
// names: apart from the extended-length prefix (\\?\ or \\?\UNC\) and separators at the end, and
// ignoring letter case the way Win32 looks names up. A final path has every link resolved, so two
// names that differ only in case are one folder, or two of one folder made case-sensitive.
bool names_same_place(std::wstring_view final_path, std::wstring_view path);

} // namespace watchdog
