#pragma once

#include <string>

namespace watchdog::testing {

// The version that vcpkg.json states, read from the manifest's own text: what every binary, the
// package and the client library must show.
std::string stated_version();

} // namespace watchdog::testing
