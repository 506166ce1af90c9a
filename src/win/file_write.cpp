#include "win/file_write.h"

#include <algorithm>
#include <limits>

namespace watchdog {

std::expected<void, Win32Failure> write_all(HANDLE file, std::string_view bytes,
                                            WriteFileFunction write) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(
            std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!write(file, bytes.data(), chunk, &written, nullptr)) {
            return std::unexpected(last_win32_failure());
        }
        if (written == 0) {
            return std::unexpected(Win32Failure{ERROR_WRITE_FAULT});
        }
        bytes.remove_prefix(written);
    }
    return {};
}

std::expected<void, Win32Failure> write_durably(HANDLE file, std::string_view bytes,
                                                FlushFunction flush, WriteFileFunction write) {
    if (auto written = write_all(file, bytes, write); !written) {
        return written;
    }
    if (!flush(file)) {
        return std::unexpected(last_win32_failure());
    }
    return {};
}

} // namespace watchdog
