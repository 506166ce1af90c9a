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
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
        return std::unexpected(GetLastError());
    }
    return ConditionalDeletion::deleted;
}

} // namespace watchdog
