#include "win/files.h"

#include <aclapi.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace watchdog {
namespace {

// FileDispositionInfoEx and its structure and flags, which not every SDK's headers declare
// (MinGW's do not); the values are those of the Windows SDK.
constexpr auto disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionInfoEx {
    ULONG Flags;
};
constexpr ULONG disposition_delete = 0x1;
constexpr ULONG disposition_posix_semantics = 0x2;

// Folders are held (see open_in), with their security read too, to judge a link by its owner.
constexpr DWORD held_folder_access =
    FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD held_folder_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// NtCreateFile's dispositions and options, as winternl.h documents them.
constexpr ULONG file_open = 1;
constexpr ULONG file_create = 2;
constexpr ULONG file_open_if = 3;
constexpr ULONG directory_file = 0x00000001;
constexpr ULONG synchronous_io = 0x00000020;
constexpr ULONG non_directory_file = 0x00000040;
constexpr ULONG open_reparse_point = 0x00200000;
constexpr ULONG case_insensitive = 0x00000040; // OBJ_CASE_INSENSITIVE, as Win32 looks names up

using CreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                            PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                            ULONG, PVOID, ULONG);
using SetInformationFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
constexpr ULONG file_rename_information = 10; // FileRenameInformation
using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// NtCreateFile and NtSetInformationFile are the documented calls that open and rename a name
// relative to an open folder (FILE_RENAME_INFO of SetFileInformationByHandle was long documented
// to take no folder). ntdll is part of every process, so they are looked up rather than linked.
template <typename Function> Function ntdll_function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// A failed native call as the Win32 error that kernel32 would have set for it.
Win32Failure nt_failure(NTSTATUS status) {
    static const auto to_win32 = ntdll_function<StatusToErrorFunction>("RtlNtStatusToDosError");
    return to_win32 != nullptr ? win32_failure(to_win32(status)) : Win32Failure{};
}

std::wstring final_path_of(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), MAX_PATH, 0);
    if (length >= path.size()) {
        path.resize(length); // the size needed, terminating zero included
        length = GetFinalPathNameByHandleW(handle, path.data(), length, 0);
    }
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    return path;
}

bool owned_by_administrators(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueLocalMemory<void> owned(descriptor);
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(owner, WinLocalSystemSid);
}

} // namespace

std::expected<std::string, Win32Failure> read_to_end(HANDLE file) {
    std::string content;
    char buffer[16384];
    try {
        while (true) {
            DWORD read = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
                return std::unexpected(last_win32_failure());
            }
            if (read == 0) {
                return content;
            }
            content.append(buffer, read);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(Win32Failure{ERROR_NOT_ENOUGH_MEMORY});
    }
}

std::expected<void, Win32Failure> delete_open_file(HANDLE file,
                                                   SetFileInformation set_information) {
    DispositionInfoEx posix{disposition_delete | disposition_posix_semantics};
    if (set_information(file, disposition_info_ex, &posix, sizeof posix)) {
        return {};
    }
    // How a system or a file system driver without the extended class refuses it: as an unknown
    // class (before Windows 10 1607), as an operation it does not implement, or as one it does
    // not support. Any other error is the deletion's own and is not retried.
    if (const Win32Failure refused = last_win32_failure();
        refused.code != ERROR_INVALID_PARAMETER && refused.code != ERROR_INVALID_FUNCTION &&
        refused.code != ERROR_NOT_SUPPORTED) {
        return std::unexpected(refused);
    }
    FILE_DISPOSITION_INFO classic{TRUE};
    if (!set_information(file, FileDispositionInfo, &classic, sizeof classic)) {
        return std::unexpected(last_win32_failure());
    }
    return {};
}

std::expected<UniqueHandle, Win32Failure> open_in(HANDLE folder, std::wstring_view name,
                                                  const OpenRequest& request) {
    static const auto create = ntdll_function<CreateFileFunction>("NtCreateFile");
    if (create == nullptr) {
        return std::unexpected(Win32Failure{ERROR_PROC_NOT_FOUND});
    }
    const auto bytes = name.size() * sizeof(wchar_t);
    if (folder == nullptr || name.empty() || bytes > 0xFFFE) {
        return std::unexpected(Win32Failure{ERROR_INVALID_PARAMETER});
    }
    std::wstring buffer(name);
    UNICODE_STRING object_name{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes),
                               buffer.data()};
    OBJECT_ATTRIBUTES attributes{.Length = sizeof attributes,
                                 .RootDirectory = folder,
                                 .ObjectName = &object_name,
                                 .Attributes = case_insensitive};
    const bool is_folder = request.kind == OpenKind::folder;
    const ULONG kind = is_folder                        ? directory_file
                       : request.kind == OpenKind::file ? non_directory_file
                                                        : 0;
    const ULONG options = kind | synchronous_io | (request.follow_link ? 0 : open_reparse_point);
    const ULONG disposition = request.disposition == Disposition::create_new       ? file_create
                              : request.disposition == Disposition::open_or_create ? file_open_if
                                                                                   : file_open;
    const DWORD access = is_folder ? held_folder_access : request.access | SYNCHRONIZE;
    const DWORD sharing = is_folder ? held_folder_sharing : request.sharing;
    IO_STATUS_BLOCK status{};
    HANDLE opened = nullptr;
    const NTSTATUS created =
        create(&opened, access, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
               disposition, options, nullptr, 0);
    if (created < 0) {
        return std::unexpected(nt_failure(created));
    }
    return UniqueHandle(opened);
}

std::expected<OpenedFile, Win32Failure> inspect_file(HANDLE handle) {
    // Not GetFileInformationByHandle, which also asks the volume for its serial number: a
    // hundred times slower under Wine, and on the watcher's way from the crash to the restore.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return std::unexpected(last_win32_failure());
    }
    OpenedFile opened{tag.FileAttributes,
                      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0,
                      standard.NumberOfLinks,
                      static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                      final_path_of(handle)};
    opened.made_by_administrator = is_link(opened) && owned_by_administrators(handle);
    return opened;
}

bool is_link(const OpenedFile& file) {
    return (file.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(file.reparse_tag);
}

std::expected<void, Win32Failure> rename_open_file(HANDLE file, HANDLE folder,
                                                   std::wstring_view name, bool replace) {
    static const auto set_information =
        ntdll_function<SetInformationFunction>("NtSetInformationFile");
    if (set_information == nullptr) {
        return std::unexpected(Win32Failure{ERROR_PROC_NOT_FOUND});
    }
    const auto deletable = handle_or_failure(ReOpenFile(
        file, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    if (!deletable) {
        return std::unexpected(deletable.error());
    }
    // FILE_RENAME_INFORMATION, laid out as FILE_RENAME_INFO; the name follows the structure.
    const std::size_t name_offset = offsetof(FILE_RENAME_INFO, FileName);
    std::vector<std::byte> buffer(name_offset + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(buffer.data() + name_offset, name.data(), rename->FileNameLength);
    IO_STATUS_BLOCK status{};
    const NTSTATUS renamed =
        set_information(deletable->get(), &status, buffer.data(), static_cast<ULONG>(buffer.size()),
                        file_rename_information);
    if (renamed < 0) {
        return std::unexpected(nt_failure(renamed));
    }
    return {};
}

} // namespace watchdog
