#include "win/files.h"

#include "win/unique_resource.h"

#include <new>

namespace watchdog {

std::expected<std::string, std::uint32_t> read_to_end(HANDLE file) {
    std::string content;
    char buffer[16384];
    try {
        while (true) {
            DWORD read = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
                return std::unexpected(GetLastError());
            }
            if (read == 0) {
                return content;
            }
            content.append(buffer, read);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(static_cast<std::uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
    }
}

namespace {

// FileDispositionInfoEx and its structure and flags, which not every SDK's headers declare
// (MinGW's do not); the values are those of the Windows SDK.
constexpr auto disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionInfoEx {
    ULONG Flags;
};
constexpr ULONG disposition_delete = 0x1;
constexpr ULONG disposition_posix_semantics = 0x2;

// How a system or a file system driver without the extended class refuses it: as an unknown
// class (before Windows 10 1607, and under Wine), as an operation it does not implement, or as
// one it does not support. Any other error is the deletion's own and is not retried.
bool refuses_posix_deletion(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_NOT_SUPPORTED;
}

} // namespace

std::expected<void, std::uint32_t> delete_open_file(HANDLE file,
                                                    SetFileInformation set_information) {
    DispositionInfoEx posix{disposition_delete | disposition_posix_semantics};
    if (set_information(file, disposition_info_ex, &posix, sizeof posix)) {
        return {};
    }
    if (const DWORD error = GetLastError(); !refuses_posix_deletion(error)) {
        return std::unexpected(error);
    }
    FILE_DISPOSITION_INFO classic{};
    classic.DeleteFile = TRUE;
    if (!set_information(file, FileDispositionInfo, &classic, sizeof classic)) {
        return std::unexpected(GetLastError());
    }
    return {};
}

std::expected<ConditionalDeletion, std::uint32_t>
delete_file_if(const std::wstring& path, const std::function<bool(std::string_view)>& still_ours) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return ConditionalDeletion::absent;
        }
        return std::unexpected(error);
    }
    const auto content = read_to_end(file.get());
    if (!content) {
        return std::unexpected(content.error());
    }
    if (!still_ours(*content)) {
        return ConditionalDeletion::kept;
    }
    if (const auto deleted = delete_open_file(file.get()); !deleted) {
        return std::unexpected(deleted.error());
    }
    return ConditionalDeletion::deleted;
}

} // namespace watchdog
