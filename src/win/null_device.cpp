#include "win/null_device.h"

namespace watchdog {

std::expected<UniqueHandle, Win32Failure> open_inheritable_null_device(DWORD access) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return handle_or_failure(CreateFileW(L"\\\\.\\NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
}

} // namespace watchdog
