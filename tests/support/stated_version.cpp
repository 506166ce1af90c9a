#include "stated_version.h"

#include <string_view>

namespace watchdog::testing {
namespace {

// vcpkg.json as it was when the tests were built (tests/CMakeLists.txt).
constexpr std::string_view manifest =
#include "vcpkg_manifest.inc"
    ;

} // namespace

std::string stated_version() {
    // "version": "x.y.z", the manifest's first "version" key.
    const auto key = manifest.find("\"version\"");
    const auto colon = manifest.find(':', key);
    const auto open = manifest.find('"', colon);
    const auto close = manifest.find('"', open + 1);
    if (key == manifest.npos || close == manifest.npos) {
        return "(no version in vcpkg.json)";
    }
    return std::string(manifest.substr(open + 1, close - open - 1));
}

} // namespace watchdog::testing
