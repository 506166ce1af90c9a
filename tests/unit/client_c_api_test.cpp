// The C API's own part: arguments, status codes and the caller's message buffer. The operations
// behind it are the C++ ones, tested against the stand-in shell.

#include <system_state_watchdog/client.h>

#include "test_files.h"
#include "win/utf.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

namespace watchdog {
namespace {

const std::string invalid_argument = "参数为空或不是有效的 UTF-8";

struct ArgumentCase {
    const char* name;
    std::function<ssw_status(char* message, size_t size)> call;
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
        EXPECT_EQ(std::string(message.data()), invalid_argument);
    }
}

TEST(ClientCApi, CutsMessagesBetweenCharactersAndSaysWhenASessionIdDoesNotFit) {
    std::array<char, 8> small{};
    EXPECT_EQ(ssw_write_marker(nullptr, nullptr, small.data(), small.size()), SSW_INVALID_ARGUMENT);
    // Room for seven bytes: two characters of three bytes, not a part of the third.
    EXPECT_EQ(std::string(small.data()), "参数");

    std::array<char, 8> short_id{};
    EXPECT_EQ(ssw_new_session_id(short_id.data(), short_id.size()), SSW_BUFFER_TOO_SMALL);
    std::array<char, SSW_SESSION_ID_SIZE> id{};
    ASSERT_EQ(ssw_new_session_id(id.data(), id.size()), SSW_OK);
    EXPECT_TRUE(std::string(id.data()).starts_with("ssw1-")) << id.data();
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
}

} // namespace
} // namespace watchdog
