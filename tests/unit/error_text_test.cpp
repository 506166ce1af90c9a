#include "win/error_text.h"

#include "win/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

struct CodeCase {
    std::uint32_t last_error;
    std::uint32_t code;
};

TEST(WindowsErrorCode, ConvertsLikeHresultFromWin32) {
    const CodeCase cases[] = {
        {0, 0x535F4F4B}, // a failure without an error still reads as a failure
        {5, 0x80070005},          {87, 0x80070057},
        {1460, 0x800705B4},       {0x12345, 0x80072345}, // only the low 16 bits survive
        {0x80070005, 0x80070005},                        // already an HRESULT (negative): unchanged
        {0xC0000022, 0xC0000022},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(windows_error_code(row.last_error), row.code) << row.last_error;
    }
}

TEST(WindowsErrorText, ComposesMessageAndUpperCaseCode) {
    EXPECT_EQ(compose_windows_error_text("Access is denied.", 0x80070005),
              "Access is denied. (0x80070005)");
    EXPECT_EQ(compose_windows_error_text("", 0x8007000E), "0x8007000E");
    EXPECT_EQ(compose_windows_error_text("x", 0x1), "x (0x00000001)");
}

TEST(WindowsErrorText, TrimsTrailingBlanksAndLineBreaksOnly) {
    EXPECT_EQ(trim_trailing_whitespace("text.\r\n"), "text.");
    EXPECT_EQ(trim_trailing_whitespace("text \t\v\f\r\n "), "text");
    EXPECT_EQ(trim_trailing_whitespace("  lead kept"), "  lead kept");
    EXPECT_EQ(trim_trailing_whitespace("\r\n"), "");
    EXPECT_EQ(trim_trailing_whitespace("ends in nbsp\xC2\xA0"), "ends in nbsp\xC2\xA0");
}

std::string message_from_system(DWORD flags, HMODULE module, DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length ? utf16_to_utf8(std::wstring_view(buffer, length)) : std::string();
    LocalFree(buffer);
    return trim_trailing_whitespace(text);
}

// The wording comes from the system's message tables, which differ between Windows and Wine;
// what must hold is that the text is the system's own text for the converted code.
TEST(WindowsErrorText, UsesTheSystemTextOfTheConvertedCode) {
    for (const std::uint32_t last_error : {2u, 5u, 87u, 1400u, 0u}) {
        const std::uint32_t code = windows_error_code(last_error);
        const std::string expected =
            compose_windows_error_text(message_from_system(0x1300, nullptr, code), code);
        EXPECT_EQ(windows_error_text(last_error), expected) << last_error;
    }
}

TEST(WindowsErrorText, TakesNtFacilityTextsFromNtdll) {
    const std::uint32_t code = 0xD0000022; // an NTSTATUS (access denied) carried as HRESULT
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const std::string message = message_from_system(0x1B00, ntdll, 0xC0000022);
    EXPECT_EQ(windows_error_text(code), compose_windows_error_text(message, code));
}

TEST(FileErrorText, EndsWithTheDecimalOsError) {
    const std::string text = file_error_text(ERROR_SHARING_VIOLATION);
    const std::string suffix = " (os error 32)";
    ASSERT_GE(text.size(), suffix.size());
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
    const std::string message = message_from_system(0x1300, nullptr, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(text, (message.empty() ? std::string("unknown error") : message) + suffix);
}

} // namespace
} // namespace watchdog
