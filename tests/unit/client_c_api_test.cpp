// The C API's own part: arguments, status codes and the caller's message buffer. The operations
// behind it are the C++ ones, tested against the stand-in shell.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "processes.h"
#include "run_objects.h"
#include "stated_version.h"
#include "test_files.h"
#include "win/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
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

// A status means in C what the code of the same number means in C++: the same situation gives
// both, and every status the C API reaches has its code.
TEST(ClientCApi, EachStatusMeansWhatItsCodeMeansInCpp) {
    testing::TempDirectory folder;
    const std::wstring marker = folder.path + L"\\marker.json";
    const std::string path = utf16_to_utf8(marker);
    const std::string stand_in = utf16_to_utf8(testing::sibling_executable(L"stand-in-main.exe"));
    const auto leave = [&](const std::string& bytes) {
        testing::write_file(marker, bytes);
    };
    const std::string version_2 = R"({"version":2,"sessionId":"old"})";
    const std::string another = R"({"version":1,"sessionId":"other"})";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<ssw_status()> in_c;
        std::function<std::optional<client::Code>()> in_cpp;
        client::Code code;
    };
    const Case cases[] = {
        {"nothing to settle", [] {},
         [&] { return ssw_settle_leftover_marker(path.c_str(), nullptr, 0); },
         [&] { return testing::code_of(client::settle_leftover_marker(marker)); },
         client::Code::no_marker},
        // Nothing can be there, yet it is no absence: the application named a place no marker
        // can have, and is told so.
        {"a marker whose folder is a file, to settle", [&] { leave(another); },
         [&] { return ssw_settle_leftover_marker((path + "\\m.json").c_str(), nullptr, 0); },
         [&] { return testing::code_of(client::settle_leftover_marker(marker + L"\\m.json")); },
         client::Code::failed},
        {"nothing to finish", [] {},
         [&] { return ssw_finish_cleanly(path.c_str(), "s", nullptr, 0); },
         [&] { return testing::code_of(client::finish_cleanly(marker, "s")); },
         client::Code::no_marker},
        {"nothing to discard", [] {},
         [&] { return ssw_discard_leftover_marker(path.c_str(), nullptr, 0); },
         [&] { return testing::code_of(client::discard_leftover_marker(marker)); },
         client::Code::no_marker},
        {"another session's marker to finish", [&] { leave(another); },
         [&] { return ssw_finish_cleanly(path.c_str(), "s", nullptr, 0); },
         [&] { return testing::code_of(client::finish_cleanly(marker, "s")); },
         client::Code::other_session},
        {"a marker in the way of a recording", [&] { leave(another); },
         [&] {
             ssw_recorded* recorded = nullptr;
             return ssw_record_desktop(path.c_str(), SSW_ITEM_DESKTOP_ICONS, "s", &recorded,
                                       nullptr, 0);
         },
         [&] {
             return testing::code_of(
                 client::record_desktop(marker, client::Items::desktop_icons, "s"));
         },
         client::Code::marker_unsettled},
        {"a marker of another version to settle", [&] { leave(version_2); },
         [&] { return ssw_settle_leftover_marker_within(path.c_str(), 0, nullptr, 0); },
         [&] { return testing::code_of(client::settle_leftover_marker(marker, {})); },
         client::Code::failed},
        {"an empty session", [] {},
         [&] { return ssw_finish_cleanly(path.c_str(), "", nullptr, 0); },
         [&] { return testing::code_of(client::finish_cleanly(marker, "")); },
         client::Code::invalid_argument},
        {"a relative watchdog path", [] {},
         [&] { return ssw_start_watchdog("watchdog.exe", "s", path.c_str(), nullptr, nullptr, 0); },
         [&] { return testing::code_of(client::start_watchdog(L"watchdog.exe", "s", marker)); },
         client::Code::invalid_argument},
        {"no such watchdog", [] {},
         [&] {
             return ssw_start_watchdog((path + ".exe").c_str(), "s", path.c_str(), nullptr, nullptr,
                                       0);
         },
         [&] { return testing::code_of(client::start_watchdog(marker + L".exe", "s", marker)); },
         client::Code::launcher_not_started},
        {"a launcher that cannot read its own path",
         [] { SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", L"3"); },
         [&] {
             return ssw_start_watchdog(stand_in.c_str(), "s", path.c_str(), nullptr, nullptr, 0);
         },
         [&] {
             return testing::code_of(client::start_watchdog(*utf8_to_utf16(stand_in), "s", marker));
         },
         client::Code::launcher_failed},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        DeleteFileW(marker.c_str());
        row.arrange();
        EXPECT_EQ(row.in_c(), static_cast<ssw_status>(row.code));
        EXPECT_EQ(row.in_cpp(), row.code);
        SetEnvironmentVariableW(L"STAND_IN_LAUNCHER_EXIT_CODE", nullptr);
    }
    std::array<char, 4> small{};
    EXPECT_EQ(ssw_new_session_id(small.data(), small.size()),
              static_cast<ssw_status>(client::Code::buffer_too_small));
}

// A message is cut to the caller's buffer, its terminating zero inside it, and never inside a
// character: "参数为空或不是有效的 UTF-8" is ten characters of three bytes, then six of one.
TEST(ClientCApi, WritesAMessageWithinTheCallersBufferOnly) {
    const std::pair<std::size_t, std::size_t> kept_of_size[] = {
        {1, 0}, {2, 0}, {3, 0}, {4, 3}, {6, 3}, {7, 6}, {36, 35}, {37, 36}, {40, 36}};
    for (const auto& [size, kept] : kept_of_size) {
        SCOPED_TRACE(size);
        std::array<char, 48> buffer{};
        buffer.fill('#');
        EXPECT_EQ(ssw_write_marker(nullptr, nullptr, buffer.data(), size), SSW_INVALID_ARGUMENT);
        EXPECT_EQ(buffer[size], '#') << "written past the buffer";
        EXPECT_EQ(std::string(buffer.data()), invalid_argument.substr(0, kept));
    }
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
