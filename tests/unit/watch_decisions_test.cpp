#include "main/watch.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

struct ProcessIdCase {
    const char* text;
    std::optional<std::uint32_t> expected;
};

TEST(ProcessIdArgument, AcceptsOnlyPlainDecimalWithinThirtyTwoBits) {
    const ProcessIdCase cases[] = {
        {"1234", 1234},
        {"+1234", 1234},
        {"007", 7},
        {"0", 0},
        {"4294967295", 4294967295u},
        {"0000000000004294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {"-1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"\xEF\xBC\x91", std::nullopt}, // a full-width digit is not an ASCII digit
    };
    for (const auto& row : cases) {
        EXPECT_EQ(parse_process_id(row.text), row.expected) << "text: '" << row.text << "'";
    }
}

TEST(ProcessExit, OnlyNoSuchProcessConfirmsAnExitWhenOpeningFails) {
    EXPECT_TRUE(exit_confirmed_after_open_failure(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(exit_confirmed_after_open_failure(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(exit_confirmed_after_open_failure(ERROR_SUCCESS));
    EXPECT_FALSE(exit_confirmed_after_open_failure(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(ProcessExit, AnEndedProcessIsConfirmedAtOnce) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    wchar_t command[] = L"cmd.exe /c exit 0";
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 10000);
    const DWORD id = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess); // the last handle: the id now names no process
    EXPECT_TRUE(wait_for_process_exit(id));
}

} // namespace
} // namespace watchdog
