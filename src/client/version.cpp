#include <system_state_watchdog/client.hpp>

#include "version.h"

namespace watchdog::client {

std::string_view library_version() {
    // A literal: the C API hands out its data() as a terminated text that never goes away.
    return WATCHDOG_VERSION_TEXT;
}

} // namespace watchdog::client
