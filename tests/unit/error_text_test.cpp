#include "win/error_text.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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

// Whether the system has a text for a code; `either` where only Windows or only Wine has one.
enum class SystemText { some, none, either };

struct TextCase {
    Win32Failure failure;
    std::string code;     // as the Windows error text shows it
    std::string os_error; // as the file error text shows it
    SystemText text;
};

void check_texts(const TextCase& row) {
    SCOPED_TRACE(row.code);
    const std::string windows_text = windows_error_text(row.failure);
    const std::string file_text = file_error_text(row.failure);
    const std::string file_suffix = " (os error " + row.os_error + ")";
    ASSERT_TRUE(file_text.ends_with(file_suffix)) << file_text;
    const std::string file_message = file_text.substr(0, file_text.size() - file_suffix.size());
    if (windows_text == row.code) {
        EXPECT_NE(row.text, SystemText::some);
        EXPECT_EQ(file_message, "unknown error");
        return;
    }
    const std::string suffix = " (" + row.code + ")";
    ASSERT_TRUE(windows_text.ends_with(suffix)) << windows_text;
    const std::string message = windows_text.substr(0, windows_text.size() - suffix.size());
    EXPECT_NE(row.text, SystemText::none) << windows_text;
    EXPECT_TRUE(!message.empty() && !std::string_view(" \t\n\v\f\r").contains(message.back()))
        << windows_text;
    if (row.text == SystemText::some) {
        EXPECT_EQ(file_message, message);
    }
}

// The code converted the way HRESULT_FROM_WIN32 does, or in decimal, after the same trimmed system
// text; a failure that set no error reads as 0x535F4F4B in both, never as success.
TEST(ErrorTexts, ShowTheSystemTextTrimmedAndTheCodeInTheirOwnForm) {
    const TextCase cases[] = {
        {Win32Failure{0}, "0x535F4F4B", "1398755147", SystemText::none}, // a record made with 0
        // The code made for a failure without an error is not converted again.
        {Win32Failure{0x535F4F4B}, "0x535F4F4B", "1398755147", SystemText::none},
        {Win32Failure{ERROR_FILE_NOT_FOUND}, "0x80070002", "2", SystemText::some},
        {Win32Failure{ERROR_ACCESS_DENIED}, "0x80070005", "5", SystemText::some},
        {Win32Failure{ERROR_SHARING_VIOLATION}, "0x80070020", "32", SystemText::some},
        {Win32Failure{ERROR_TIMEOUT}, "0x800705B4", "1460", SystemText::some},
        // Only the low 16 bits survive the conversion.
        {Win32Failure{0x12345}, "0x80072345", "74565", SystemText::either},
        // Already an HRESULT (negative): unchanged.
        {Win32Failure{0x80070005}, "0x80070005", "2147942405", SystemText::some},
        {Win32Failure{0xC0000022}, "0xC0000022", "3221225506", SystemText::either},
        // An NTSTATUS carried as an HRESULT: ntdll's text, which Wine's ntdll does not carry.
        {Win32Failure{0xD0000022}, "0xD0000022", "3489660962", SystemText::either},
    };
    for (const auto& row : cases) {
        check_texts(row);
    }
}

} // namespace
} // namespace watchdog
