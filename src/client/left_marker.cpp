#include "client/left_marker.h"

#include "marker/recovery_marker.h"
#include "win/error_text.h"
#include "win/files.h"
#include "win/unique_resource.h"

#include <windows.h>

namespace watchdog::client {

std::expected<std::optional<LeftMarker>, std::string> read_left_marker(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return std::nullopt;
        }
        return std::unexpected("读取恢复标记失败: " + file_error_text(error));
    }
    auto bytes = read_to_end(file.get());
    if (!bytes) {
        return std::unexpected("读取恢复标记失败: " + file_error_text(bytes.error()));
    }
    LeftMarker left{std::move(*bytes), {}};
    if (const auto marker = parse_recovery_marker(left.bytes)) {
        left.session_id = marker->sessionId;
    }
    return left;
}

} // namespace watchdog::client
