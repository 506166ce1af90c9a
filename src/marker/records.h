#pragma once

// The marker's records of the desktop before the main application changed it: plain values.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace watchdog {

struct DesktopIconRecovery {
    bool originalVisible = true;

    bool operator==(const DesktopIconRecovery&) const = default;
};

struct TaskbarWindowRecoveryState {
    // Only ever compared with the handles of windows found now, never acted on by itself.
    std::int64_t hwnd = 0;
    std::int32_t ex_style = 0;
    std::uint32_t layered_color = 0;
    std::uint8_t layered_alpha = 0;
    std::uint32_t layered_flags = 0;
    bool had_layered_attributes = false;

    bool operator==(const TaskbarWindowRecoveryState&) const = default;
};

struct TaskbarRecoverySnapshot {
    std::uint32_t appbar_state = 0;
    // Document order is kept: records fall back to pairing with windows by position.
    std::vector<TaskbarWindowRecoveryState> windows;

    bool operator==(const TaskbarRecoverySnapshot&) const = default;
};

struct RecoveryMarker {
    std::uint32_t version = 0;
    std::string sessionId;
    std::optional<DesktopIconRecovery> desktopIcons;
    std::optional<TaskbarRecoverySnapshot> taskbar;

    bool operator==(const RecoveryMarker&) const = default;
};

} // namespace watchdog
