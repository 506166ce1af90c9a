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

// The record keeps the last error as it is, except that a failure without one never reads as 0.
TEST(Win32Failure, KeepsTheLastErrorAndNeverReadsAsSuccess) {
    const CodeCase cases[] = {
        {0, 0x535F4F4B}, {5, 5}, {1460, 1460}, {0xD0000022, 0xD0000022}, {0x80070005, 0x80070005},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.last_error);
        EXPECT_EQ(win32_failure(row.last_error).code, row.code);
        SetLastError(row.last_error);
        EXPECT_EQ(last_win32_failure().code, row.code);
    }
}

// A name whose destructor changes the last error, as a destructor that makes a call may.
struct MeddlingName {
    std::wstring text;
    ~MeddlingName() { SetLastError(ERROR_ACCESS_DENIED); }
};

// Null and INVALID_HANDLE_VALUE both mean "no handle", and the error is the call's own, read
// before the temporaries of the calling expression go.
TEST(Win32Failure, AMissingHandleCarriesTheErrorOfItsCall) {
    const auto event = handle_or_failure(OpenEventW(
        SYNCHRONIZE, FALSE, MeddlingName{L"Local\\SystemStateWatchdogTest-nobody"}.text.c_str()));
    ASSERT_FALSE(event.has_value());
    EXPECT_EQ(event.error(), Win32Failure{ERROR_FILE_NOT_FOUND});
    const auto file = handle_or_failure(CreateFileW(L"Z:\\no\\such\\folder\\file", GENERIC_READ, 0,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_FALSE(file.has_value());
    EXPECT_NE(file.error(), win32_failure(0));
    const auto own = handle_or_failure(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()));
    EXPECT_TRUE(own.has_value());
}

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
        EXPECT_EQ(windows_error_code(win32_failure(row.last_error)), row.code);
    }
    // The code made for a failure without an error is not converted again.
    EXPECT_EQ(windows_error_code(win32_failure(0x535F4F4B)), 0x535F4F4Bu);
    EXPECT_EQ(windows_error_code(Win32Failure{0}), 0x535F4F4Bu) << "a record made with 0";
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
        EXPECT_EQ(windows_error_text(win32_failure(row.last_error)),
                  message.empty() ? row.code_text : message + " (" + row.code_text + ")");
    }
}

TEST(WindowsErrorText, TakesNtFacilityTextsFromNtdll) {
    // An NTSTATUS (access denied) carried as an HRESULT: its text is ntdll's for 0xC0000022.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const std::string message = message_from_system(0x1B00, ntdll, 0xC0000022);
    // Wine's ntdll carries no message table: the code alone then.
    EXPECT_EQ(windows_error_text(Win32Failure{0xD0000022}),
              message.empty() ? "0xD0000022" : message + " (0xD0000022)");
}

// The system text for a code, or the fallback when it has none.
std::string file_text_of(const std::string& message) {
    return message.empty() ? "unknown error" : message;
}

TEST(FileErrorText, IsTheSystemTextFollowedByTheDecimalOsError) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const struct {
        Win32Failure failure;
        std::string text;
    } cases[] = {
        {Win32Failure{ERROR_SHARING_VIOLATION},
         message_from_system(0x1300, nullptr, ERROR_SHARING_VIOLATION) + " (os error 32)"},
        {Win32Failure{ERROR_ACCESS_DENIED},
         message_from_system(0x1300, nullptr, ERROR_ACCESS_DENIED) + " (os error 5)"},
        {Win32Failure{0xD0000022},
         file_text_of(message_from_system(0x1B00, ntdll, 0xC0000022)) + " (os error 3489660962)"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.failure.code);
        EXPECT_EQ(file_error_text(row.failure), row.text);
    }
}

// Neither text of a failure that set no error may read as the system's text for 0.
TEST(FileErrorText, NeverSaysSuccessForAFailure) {
    const std::string success = message_from_system(0x1300, nullptr, ERROR_SUCCESS);
    ASSERT_FALSE(success.empty());
    for (const Win32Failure failure : {win32_failure(0), Win32Failure{0}}) {
        const std::string file_text = file_error_text(failure);
        EXPECT_EQ(file_text.find(success), std::string::npos) << file_text;
        EXPECT_TRUE(file_text.ends_with(" (os error 1398755147)")) << file_text;
        const std::string windows_text = windows_error_text(failure);
        EXPECT_EQ(windows_text.find(success), std::string::npos) << windows_text;
        EXPECT_TRUE(windows_text.ends_with("0x535F4F4B")) << windows_text;
    }
}

} // namespace
} // namespace watchdog
