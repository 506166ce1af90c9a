#include "marker/restore_run.h"

#include <windows.h>

namespace watchdog {

// Placeholder until the marker reader and the item restorers exist: an absent marker is
// nothing to restore; a present one is reported as not handled, so it stays on disk for the
// main application instead of being taken as restored.
std::expected<void, std::string> restore_from_marker(std::wstring_view marker_path,
                                                     std::string_view) {
    if (GetFileAttributesW(std::wstring(marker_path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return {};
    }
    return std::unexpected("恢复标记尚未处理: 此版本还不能读取恢复标记");
}

} // namespace watchdog
