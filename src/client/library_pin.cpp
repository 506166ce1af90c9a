#include "client/library_pin.h"

#include <windows.h>

#include <mutex>

namespace watchdog::client {

void pin_client_library() noexcept {
    static std::once_flag pinned;
    std::call_once(pinned, [] {
        // A pinned module is never released, so there is no handle to own.
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&pin_client_library), &module);
    });
}

} // namespace watchdog::client
