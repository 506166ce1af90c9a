#include "win/error_text.h"

#include "win/unique_resource.h"
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
        SCOPED_TRACE(row.last_error);
        EXPECT_EQ(windows_error_code(row.last_error), row.code);
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

// The system's own text for a code, asked for here without the product's help and with its
// trailing blanks and line breaks cut off.
std::string message_from_system(DWORD flags, HMODULE module, DWORD code) {
    UniqueLocalMemory<wchar_t> buffer;
    const DWORD length = FormatMessageW(flags, module, code, 0,
                                        reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    std::string text = length ? utf16_to_utf8(std::wstring_view(buffer.get(), length)) : "";
    text.erase(text.find_last_not_of(" \t\n\v\f\r") + 1);
    return text;
}

struct SystemTextCase {
    std::uint32_t last_error;
    DWORD code; // the code the text is made for
    std::string code_text;
};

// The wording comes from the system's message tables, which differ between Windows and Wine;
// what must hold is that the text is the system's own text for the converted code, followed by
// that code.
TEST(WindowsErrorText, IsTheSystemTextOfTheConvertedCodeFollowedByTheCode) {
    const SystemTextCase cases[] = {
        {2, 0x80070002, "0x80070002"},  {5, 0x80070005, "0x80070005"},
        {87, 0x80070057, "0x80070057"}, {1400, 0x80070578, "0x80070578"},
        {0, 0x535F4F4B, "0x535F4F4B"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.code_text);
        const std::string message = message_from_system(0x1300, nullptr, row.code);
        EXPECT_EQ(windows_error_text(row.last_error),
                  message.empty() ? row.code_text : message + " (" + row.code_text + ")");
    }
}

TEST(WindowsErrorText, TakesNtFacilityTextsFromNtdll) {
    // An NTSTATUS (access denied) carried as an HRESULT: its text is ntdll's for 0xC0000022.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const std::string message = message_from_system(0x1B00, ntdll, 0xC0000022);
    // Wine's ntdll carries no message table: the code alone then.
    EXPECT_EQ(windows_error_text(0xD0000022),
              message.empty() ? "0xD0000022" : message + " (0xD0000022)");
}

TEST(FileErrorText, IsTheSystemTextFollowedByTheDecimalOsError) {
    const std::string message = message_from_system(0x1300, nullptr, ERROR_SHARING_VIOLATION);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(file_error_text(ERROR_SHARING_VIOLATION), message + " (os error 32)");
}

} // namespace
} // namespace watchdog
