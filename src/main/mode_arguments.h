#pragma once

#include "protocol/launcher_protocol.h"

#include <string>
#include <vector>

namespace watchdog {

// The arguments after the mode switch as the system gave them: UTF-16 code units, maybe malformed.
using ModeArguments = std::vector<std::wstring>;

} // namespace watchdog
