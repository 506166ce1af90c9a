// The C API's own part: arguments, status codes and the caller's message buffer. The operations
// behind it are the C++ ones, tested against the stand-in shell.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "processes.h"
#include "stated_version.h"
#include "test_files.h"
#include "win/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

namespace watchdog {
namespace {

const std::string invalid_argument = "参数为空或不是有效的 UTF-8";
const std::string empty_session = "会话标识为空";
const std::string nothing_named = "没有指定要记录的项目";

struct ArgumentCase {
    const char* name;
    std::function<ssw_status(char* message, size_t size)> call;
    const std::string& message = invalid_argument;
};

TEST(ClientCApi, RefusesMissingOrMalformedArgumentsWithAMessage) {
    ssw_recorded* recorded = nullptr;
    const ArgumentCase cases[] = {
        {"no marker path",
         [&](char* m, size_t n) {
             return ssw_record_desktop(nullptr, 3, "s", &recorded, m, n);
         }},
        {"no item named",
         [&](char* m, size_t n) {
             return ssw_record_desktop("C:\\m.json", 0, "s", &recorded, m, n);
         },
         nothing_named},
        {"only unknown items named",
         [&](char* m, size_t n) {
             return ssw_record_desktop("C:\\m.json", 4, "s", &recorded, m, n);
         },
         nothing_named},
        {"an empty session to record for",
         [&](char* m, size_t n) {
             return ssw_record_desktop("C:\\m.json", 3, "", &recorded, m, n);
         },
         empty_session},
        {"an empty session to finish",
         [](char* m, size_t n) { return ssw_finish_cleanly("C:\\m.json", "", m, n); },
         empty_session},
        {"nowhere to put the protection",
         [](char* m, size_t n) {
             return ssw_protect_desktop("C:\\m.json", 3, nullptr, nullptr, m, n);
         }},
        {"no protection to end",
         [](char* m, size_t n) {
             return ssw_end_protection(nullptr, m, n);
         }},
        {"nowhere to put the record",
         [&](char* m, size_t n) {
             return ssw_record_desktop("C:\\m.json", 3, "s", nullptr, m, n);
         }},
        {"no record to write",
         [](char* m, size_t n) {
             return ssw_write_marker("m", nullptr, m, n);
         }},
        {"a path that is not UTF-8",
         [](char* m, size_t n) {
             return ssw_finish_cleanly("C:\\\xFF.json", "s", m, n);
         }},
        {"no session",
         [](char* m, size_t n) {
             return ssw_start_watchdog(nullptr, nullptr, "m", nullptr, m, n);
         }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        std::array<char, 128> message{};
        EXPECT_EQ(row.call(message.data(), message.size()), SSW_INVALID_ARGUMENT);
        EXPECT_EQ(std::string(message.data()), row.message);
    }
}

TEST(ClientCApi, CutsMessagesBetweenCharactersAndSaysWhenASessionIdDoesNotFit) {
    std::array<char, 8> small{};
    EXPECT_EQ(ssw_write_marker(nullptr, nullptr, small.data(), small.size()), SSW_INVALID_ARGUMENT);
    // Room for seven bytes: two characters of three bytes, not a part of the third.
    EXPECT_EQ(std::string(small.data()), "参数");

    std::array<char, SSW_SESSION_ID_SIZE> id{};
    ASSERT_EQ(ssw_new_session_id(id.data(), id.size()), SSW_OK);
    EXPECT_TRUE(std::string(id.data()).starts_with("ssw1-")) << id.data();
    // The id's length is not enough: its terminating zero needs a byte too.
    const std::size_t length = std::string(id.data()).size();
    EXPECT_EQ(ssw_new_session_id(id.data(), length), SSW_BUFFER_TOO_SMALL);
    EXPECT_EQ(ssw_new_session_id(id.data(), length + 1), SSW_OK);
    EXPECT_EQ(ssw_new_session_id(nullptr, id.size()), SSW_INVALID_ARGUMENT);
    EXPECT_EQ(ssw_protection_session_id(nullptr, id.data(), id.size()), SSW_INVALID_ARGUMENT);
}

TEST(ClientCApi, TellsAProgramThatDidNotStartFromALauncherThatFailed) {
    testing::TempDirectory folder;
    const std::string marker = utf16_to_utf8(folder.path) + "\\marker.json";
    const std::string missing = utf16_to_utf8(folder.path) + "\\missing.exe";
    const std::string stand_in = utf16_to_utf8(testing::sibling_executable(L"stand-in-main.exe"));
    std::array<char, 512> message{};
    uint32_t exit_code = 99;
    EXPECT_EQ(ssw_start_watchdog(missing.c_str(), "s", marker.c_str(), &exit_code, message.data(),
                                 message.size()),
              SSW_LAUNCHER_NOT_STARTED);
    EXPECT_EQ(exit_code, 0u);
    EXPECT_NE(std::string(message.data()).find(missing), std::string::npos) << message.data();

    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", L"3");
    EXPECT_EQ(ssw_start_watchdog(stand_in.c_str(), "s", marker.c_str(), &exit_code, message.data(),
                                 message.size()),
              SSW_LAUNCHER_FAILED);
    SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
    EXPECT_EQ(exit_code, 3u);
    EXPECT_NE(std::string(message.data()).find(stand_in), std::string::npos) << message.data();
}

TEST(ClientCApi, TellsAMissingMarkerAndAMarkerStillToSettleApart) {
    testing::TempDirectory folder;
    const std::string marker = utf16_to_utf8(folder.path) + "\\marker.json";
    std::array<char, 256> message{'x'};
    EXPECT_EQ(ssw_settle_leftover_marker(marker.c_str(), message.data(), message.size()),
              SSW_NO_MARKER);
    EXPECT_EQ(std::string(message.data()), "");
    EXPECT_EQ(ssw_finish_cleanly(marker.c_str(), "s", nullptr, 0), SSW_NO_MARKER);

    testing::write_file(folder.path + L"\\marker.json", R"({"version":1,"sessionId":"other"})");
    ssw_recorded* recorded = nullptr;
    EXPECT_EQ(ssw_record_desktop(marker.c_str(), SSW_ITEM_DESKTOP_ICONS, "s", &recorded,
                                 message.data(), message.size()),
              SSW_MARKER_UNSETTLED);
    EXPECT_EQ(recorded, nullptr);
    EXPECT_EQ(ssw_finish_cleanly(marker.c_str(), "s", nullptr, 0), SSW_OTHER_SESSION);
    EXPECT_EQ(ssw_discard_leftover_marker(marker.c_str(), nullptr, 0), SSW_OK);
    EXPECT_EQ(ssw_settle_leftover_marker_within(marker.c_str(), 0, nullptr, 0), SSW_NO_MARKER);
}

// What an application logs as the version it runs with is the one the manifest states, in C and
// in C++ alike.
TEST(ClientCApi, NamesTheVersionTheManifestStates) {
    const std::string stated = testing::stated_version();
    EXPECT_EQ(std::string(ssw_library_version()), stated);
    EXPECT_EQ(client::library_version(), stated);
}

} // namespace
} // namespace watchdog
