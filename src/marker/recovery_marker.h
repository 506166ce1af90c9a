#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

struct DesktopIconRecovery {
    bool originalVisible = true;
};

struct TaskbarWindowRecoveryState {
    std::int64_t hwnd = 0;
    std::int32_t ex_style = 0;
    std::uint32_t layered_color = 0;
    std::uint8_t layered_alpha = 0;
    std::uint32_t layered_flags = 0;
    bool had_layered_attributes = false;
};

struct TaskbarRecoverySnapshot {
    std::uint32_t appbar_state = 0;
    std::vector<TaskbarWindowRecoveryState> windows;
};

struct RecoveryMarker {
    std::uint32_t version = 0;
    std::string sessionId;
    std::optional<DesktopIconRecovery> desktopIcons;
    std::optional<TaskbarRecoverySnapshot> taskbar;
};

// Reads a whole marker file's bytes into its records, or describes the first problem met.
std::expected<RecoveryMarker, std::string> parse_recovery_marker(std::string_view bytes);

} // namespace watchdog
