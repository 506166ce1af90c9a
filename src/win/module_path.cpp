#include "win/module_path.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

constexpr DWORD initial_path_capacity = 512;

} // namespace

std::expected<std::wstring, std::uint32_t> current_executable_path() {
    std::vector<wchar_t> buffer(initial_path_capacity);
    while (true) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        // A path cut to fit says so only through the last error, which the call leaves as it
        // was when the path fits.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        const DWORD error = GetLastError();
        if (length == 0 && error != ERROR_SUCCESS) {
            return std::unexpected(static_cast<std::uint32_t>(error));
        }
        if (length < capacity || error != ERROR_INSUFFICIENT_BUFFER) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace watchdog
