#include "session/named_event.h"

#include <windows.h>

namespace watchdog {

NameState name_state_after(Win32Failure failure) {
    switch (failure.code) {
    case ERROR_FILE_NOT_FOUND:
        return {NameHolder::nobody, failure};
    case ERROR_ACCESS_DENIED:
        return {NameHolder::a_run_of_other_rights, failure};
    case ERROR_INVALID_HANDLE:
        return {NameHolder::another_object, failure};
    default:
        return {NameHolder::unknown, failure};
    }
}

std::expected<CreatedEvent, NameState> create_named_event(const std::wstring& name) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    // Read at once, on success too: ERROR_ALREADY_EXISTS then tells an existing event.
    const DWORD last_error = GetLastError();
    if (event == nullptr) {
        return std::unexpected(name_state_after(win32_failure(last_error)));
    }
    return CreatedEvent{UniqueHandle(event), last_error == ERROR_ALREADY_EXISTS};
}

} // namespace watchdog
