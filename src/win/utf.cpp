#include "win/utf.h"

#include <cstdint>

namespace watchdog {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_high_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void append_utf8(std::string& out, char32_t code_point) {
    auto byte = [&out](char32_t value) {
        out.push_back(static_cast<char>(value));
    };
    if (code_point < 0x80) {
        byte(code_point);
    } else if (code_point < 0x800) {
        byte(0xC0 | (code_point >> 6));
        byte(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        byte(0xE0 | (code_point >> 12));
        byte(0x80 | ((code_point >> 6) & 0x3F));
        byte(0x80 | (code_point & 0x3F));
    } else {
        byte(0xF0 | (code_point >> 18));
        byte(0x80 | ((code_point >> 12) & 0x3F));
        byte(0x80 | ((code_point >> 6) & 0x3F));
        byte(0x80 | (code_point & 0x3F));
    }
}

void append_utf16(std::wstring& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out.push_back(static_cast<wchar_t>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
}

// Decodes one UTF-8 sequence starting at text[index]; advances index past what it used.
// Overlong forms, surrogates and values above U+10FFFF decode as U+FFFD.
char32_t decode_utf8(std::string_view text, std::size_t& index) {
    const auto lead = static_cast<std::uint8_t>(text[index++]);
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 1, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 2, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return replacement_character;
    }
    for (int i = 0; i < length; ++i) {
        if (index >= text.size() || (static_cast<std::uint8_t>(text[index]) & 0xC0) != 0x80) {
            return replacement_character;
        }
        value = (value << 6) | (static_cast<std::uint8_t>(text[index++]) & 0x3F);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value < minimum || value > 0x10FFFF || surrogate) {
        return replacement_character;
    }
    return value;
}

} // namespace

std::string utf16_to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(text[i]));
        if (is_high_surrogate(unit) && i + 1 < text.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::uint16_t>(text[i + 1]));
            if (is_low_surrogate(next)) {
                append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        const bool lone = is_high_surrogate(unit) || is_low_surrogate(unit);
        append_utf8(out, lone ? replacement_character : unit);
    }
    return out;
}

std::wstring utf8_to_utf16(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        append_utf16(out, decode_utf8(text, index));
    }
    return out;
}

} // namespace watchdog
