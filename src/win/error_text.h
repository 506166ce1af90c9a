#pragma once

#include "win/win32_failure.h"

#include <string>

namespace watchdog {

// "message (0xXXXXXXXX)", or the bare code when the system has no text for it: the code
// converted the way HRESULT_FROM_WIN32 does, unreported_failure_code as it is.
std::string windows_error_text(Win32Failure failure);

// The file error text: "message (os error N)", N the failure's code in decimal.
std::string file_error_text(Win32Failure failure);

} // namespace watchdog
