#pragma once

// What a session id made by this library says about the run that made it.

#include <string>
#include <string_view>

namespace watchdog::client {

// 64 random bits as 16 upper-case hexadecimal digits.
std::string random_hex();

// True while the process that made `session_id` (by new_session_id) still runs. A session id
// made otherwise says nothing about its run: false.
bool session_run_is_alive(std::string_view session_id);

} // namespace watchdog::client
