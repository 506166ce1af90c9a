#include "win/module_path.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

constexpr DWORD initial_path_capacity = 512;

} // namespace

std::expected<UniqueModule, Win32Failure> load_system_library(const wchar_t* file_name) {
    const HMODULE module = LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        return std::unexpected(last_win32_failure());
    }
    return UniqueModule(module);
}

ModulePathRead module_path_read(std::uint32_t length, std::uint32_t capacity) {
    // No path at all is a failure even where the system said nothing: the unreported code then
    // stands for the reason.
    if (length == 0) {
        return ModulePathRead::failed;
    }
    return length < capacity ? ModulePathRead::complete : ModulePathRead::cut;
}

std::expected<std::wstring, Win32Failure> current_executable_path() {
    std::vector<wchar_t> buffer(initial_path_capacity);
    while (true) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        // Cleared first: a failure that sets no error must not read as an earlier call's.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        const DWORD error = GetLastError();
        switch (module_path_read(length, capacity)) {
        case ModulePathRead::failed:
            return std::unexpected(win32_failure(error));
        case ModulePathRead::complete:
            return std::wstring(buffer.data(), length);
        case ModulePathRead::cut:
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace watchdog
