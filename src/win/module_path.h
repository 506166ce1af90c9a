#pragma once

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <expected>
#include <string>

namespace watchdog {

// The full path of the running executable, however long it is, or the failure that reading it gave.
std::expected<std::wstring, Win32Failure> current_executable_path();

// A library of the system loaded from the system folder alone: one of the same name beside the
// application, or in its current folder, is never the one loaded.
std::expected<UniqueModule, Win32Failure> load_system_library(const wchar_t* file_name);

// The system folder (GetSystemDirectoryW): a working folder that belongs to nobody's application.
std::expected<std::wstring, Win32Failure> system_folder();

} // namespace watchdog
