#include "marker_writer.h"

namespace watchdog {
namespace {

// Bytes from 0x80 on are written as they are: the reader only accepts valid UTF-8 anyway.
std::string json_string(std::string_view text) {
    constexpr char hex_digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex_digits[byte >> 4];
            out += hex_digits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string field(std::string_view key, const std::string& value) {
    return json_string(key) + ":" + value;
}

std::string object_form(const TaskbarWindowRecoveryState& window) {
    return "{" + field("hwnd", std::to_string(window.hwnd)) + "," +
           field("ex_style", std::to_string(window.ex_style)) + "," +
           field("layered_color", std::to_string(window.layered_color)) + "," +
           field("layered_alpha", std::to_string(window.layered_alpha)) + "," +
           field("layered_flags", std::to_string(window.layered_flags)) + "," +
           field("had_layered_attributes", window.had_layered_attributes ? "true" : "false") + "}";
}

std::string array_form(const TaskbarWindowRecoveryState& window) {
    return "[" + std::to_string(window.hwnd) + "," + std::to_string(window.ex_style) + "," +
           std::to_string(window.layered_color) + "," + std::to_string(window.layered_alpha) + "," +
           std::to_string(window.layered_flags) + "," +
           (window.had_layered_attributes ? "true" : "false") + "]";
}

template <typename Form>
std::string window_list(const TaskbarRecoverySnapshot& taskbar, Form form) {
    std::string out = "[";
    for (const TaskbarWindowRecoveryState& window : taskbar.windows) {
        out += (out.size() > 1 ? "," : "") + form(window);
    }
    return out + "]";
}

} // namespace

std::string write_object_form(const RecoveryMarker& marker) {
    std::string out = "{" + field("version", std::to_string(marker.version)) + "," +
                      field("sessionId", json_string(marker.sessionId));
    if (marker.desktopIcons) {
        out += "," + field("desktopIcons",
                           "{" +
                               field("originalVisible",
                                     marker.desktopIcons->originalVisible ? "true" : "false") +
                               "}");
    }
    if (marker.taskbar) {
        out +=
            "," +
            field("taskbar",
                  "{" + field("appbar_state", std::to_string(marker.taskbar->appbar_state)) + "," +
                      field("windows", window_list(*marker.taskbar,
                                                   [](const auto& w) { return object_form(w); })) +
                      "}");
    }
    return out + "}";
}

std::string write_array_form(const RecoveryMarker& marker) {
    std::string out = "[" + std::to_string(marker.version) + "," + json_string(marker.sessionId);
    out += marker.desktopIcons
               ? std::string(marker.desktopIcons->originalVisible ? ",[true]" : ",[false]")
               : std::string(",null");
    if (marker.taskbar) {
        out += ",[" + std::to_string(marker.taskbar->appbar_state) + "," +
               window_list(*marker.taskbar, [](const auto& w) { return array_form(w); }) + "]";
    } else {
        out += ",null";
    }
    return out + "]";
}

} // namespace watchdog
