#pragma once

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <cstdint>
#include <expected>
#include <string>

namespace watchdog {

// The full path of the running executable, however long it is; why not when the system cannot
// say it.
std::expected<std::wstring, Win32Failure> current_executable_path();

// A library of the system loaded from the system folder alone: one of the same name beside the
// application, or in its current folder, is never the one loaded.
std::expected<UniqueModule, Win32Failure> load_system_library(const wchar_t* file_name);

enum class ModulePathRead { complete, cut, failed };

// What GetModuleFileNameW said with `length` characters written into a buffer of `capacity`: no
// path at all is a failure (with or without a reason), and a path that fills the whole buffer
// may be cut (and, on older systems, unterminated) whatever the last error says.
ModulePathRead module_path_read(std::uint32_t length, std::uint32_t capacity);

} // namespace watchdog
