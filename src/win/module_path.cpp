#include "win/module_path.h"

#include <windows.h>

#include <vector>

namespace watchdog {

std::expected<UniqueModule, Win32Failure> load_system_library(const wchar_t* file_name) {
    const HMODULE module = LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        return std::unexpected(last_win32_failure());
    }
    return UniqueModule(module);
}

std::expected<std::wstring, Win32Failure> current_executable_path() {
    constexpr DWORD initial_path_capacity = 512;
    std::vector<wchar_t> buffer(initial_path_capacity);
    while (true) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        // Cleared first: a failure that sets no error must not read as an earlier call's.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length == 0) {
            return std::unexpected(last_win32_failure());
        }
        // A path that fills the whole buffer may be cut (and, on older systems, unterminated)
        // whatever the last error says.
        if (length < capacity) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::expected<std::wstring, Win32Failure> system_folder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return std::unexpected(last_win32_failure());
    }
    return std::wstring(folder, length);
}

} // namespace watchdog
