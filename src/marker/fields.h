#pragma once

// The marker's records declared once, as data: each record's name and each field's JSON key and
// member, in the order of the array form and of missing-key reports. Reader and writer walk these
// tables, so a field is added, renamed or moved here and nowhere else. Also the JSON string form
// that the writer writes and the reader's descriptions quote. No Windows header.

#include "marker/records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace watchdog {

// Every type a field of a marker record can have, as a pointer to that member.
template <typename Record>
using FieldMember =
    std::variant<std::uint8_t Record::*, std::int32_t Record::*, std::uint32_t Record::*,
                 std::int64_t Record::*, bool Record::*, std::string Record::*,
                 std::optional<DesktopIconRecovery> Record::*,
                 std::optional<TaskbarRecoverySnapshot> Record::*,
                 std::vector<TaskbarWindowRecoveryState> Record::*>;

template <typename Record> struct Field {
    std::string_view key;
    FieldMember<Record> member;
};

template <typename Record> struct Declaration;

template <> struct Declaration<RecoveryMarker> {
    static constexpr std::string_view name = "RecoveryMarker";
    static constexpr auto fields = std::to_array<Field<RecoveryMarker>>({
        {"version", &RecoveryMarker::version},
        {"sessionId", &RecoveryMarker::sessionId},
        {"desktopIcons", &RecoveryMarker::desktopIcons},
        {"taskbar", &RecoveryMarker::taskbar},
    });
};

template <> struct Declaration<DesktopIconRecovery> {
    static constexpr std::string_view name = "DesktopIconRecovery";
    static constexpr auto fields = std::to_array<Field<DesktopIconRecovery>>({
        {"originalVisible", &DesktopIconRecovery::originalVisible},
    });
};

template <> struct Declaration<TaskbarRecoverySnapshot> {
    static constexpr std::string_view name = "TaskbarRecoverySnapshot";
    static constexpr auto fields = std::to_array<Field<TaskbarRecoverySnapshot>>({
        {"appbar_state", &TaskbarRecoverySnapshot::appbar_state},
        {"windows", &TaskbarRecoverySnapshot::windows},
    });
};

template <> struct Declaration<TaskbarWindowRecoveryState> {
    static constexpr std::string_view name = "TaskbarWindowRecoveryState";
    static constexpr auto fields = std::to_array<Field<TaskbarWindowRecoveryState>>({
        {"hwnd", &TaskbarWindowRecoveryState::hwnd},
        {"ex_style", &TaskbarWindowRecoveryState::ex_style},
        {"layered_color", &TaskbarWindowRecoveryState::layered_color},
        {"layered_alpha", &TaskbarWindowRecoveryState::layered_alpha},
        {"layered_flags", &TaskbarWindowRecoveryState::layered_flags},
        {"had_layered_attributes", &TaskbarWindowRecoveryState::had_layered_attributes},
    });
};

template <typename Record> constexpr std::size_t field_count = Declaration<Record>::fields.size();

template <typename Record, typename T> constexpr bool is_optional(T Record::*) {
    return false;
}
template <typename Record, typename T> constexpr bool is_optional(std::optional<T> Record::*) {
    return true;
}

// Only optional records may be left out of the object form; in the array form every field has
// its element, null standing for an absent record.
template <typename Record> constexpr bool is_required(const Field<Record>& field) {
    return !std::visit([](auto member) { return is_optional(member); }, field.member);
}

// The text quoted and escaped: escaped controls and DEL keep it on one line, its end unambiguous;
// bytes from 0x80 on stay as they are (the reader accepts only valid UTF-8 anyway).
inline std::string json_string(std::string_view text) {
    constexpr std::string_view hex_digits = "0123456789abcdef";
    constexpr std::string_view escaped = "\"\\\n\r\t";
    constexpr std::string_view escapes = "\"\\nrt";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const std::size_t named = escaped.find(c); named != std::string_view::npos) {
            out += '\\';
            out += escapes[named];
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += hex_digits[byte >> 4];
            out += hex_digits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + '"';
}

} // namespace watchdog
