#pragma once

#include <string>

namespace watchdog::client {

// 64 random bits as 16 upper-case hexadecimal digits.
std::string random_hex();

} // namespace watchdog::client
