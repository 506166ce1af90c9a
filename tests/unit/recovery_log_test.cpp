#include "log/recovery_log.h"

#include "test_files.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::TempDirectory;
using testing::write_file;

TEST(LogLine, HasTimestampTagAndOneLineFeed) {
    EXPECT_EQ(format_log_line(1765150000, "restore", "ok"), "1765150000 [restore] ok\n");
    EXPECT_EQ(format_log_line(0, "watchdog", ""), "0 [watchdog] \n");
    EXPECT_EQ(format_log_line(7, "t", "a\r\nb\nc\rd"), "7 [t] a  b c d\n");
    EXPECT_EQ(format_log_line(7, "t\r\n", "m"), "7 [t\r\n] m\n"); // the tag is not cleaned
    EXPECT_EQ(format_log_line(18446744073709551615ULL, "t", "\xE6\x81\xA2"),
              "18446744073709551615 [t] \xE6\x81\xA2\n");
}

TEST(LogTimestamp, CountsWholeSecondsSince1970) {
    const std::uint64_t epoch = 116444736000000000ULL;
    EXPECT_EQ(unix_seconds_from_filetime(epoch), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch - 1), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(0), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 9999999), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 10000000), 1u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 17651500000000000ULL), 1765150000u);
}

struct DirectoryCase {
    const wchar_t* marker;
    std::optional<std::wstring> logs;
};

TEST(LogDirectory, LiesBesideTheMarker) {
    const DirectoryCase cases[] = {
        {L"C:\\data\\marker.json", L"C:\\data\\logs"},
        {L"C:\\data\\marker.json\\\\", L"C:\\data\\logs"},
        {L"C:/data/app/marker.json", L"C:/data/app\\logs"},
        {L"C:\\marker.json", L"C:\\logs"},
        {L"marker.json", L"logs"},
        {L"sub\\marker.json", L"sub\\logs"},
        {L"C:marker.json", L"C:logs"},
        {L"\\\\server\\share\\marker.json", L"\\\\server\\share\\logs"},
        {L"\\\\?\\C:\\data\\marker.json", L"\\\\?\\C:\\data\\logs"},
        {L"\\\\?\\UNC\\server\\share\\m.json", L"\\\\?\\UNC\\server\\share\\logs"},
        {L"", std::nullopt},
        {L"C:\\", std::nullopt},
        {L"C:", std::nullopt},
        {L"\\", std::nullopt},
        {L"\\\\server\\share\\", std::nullopt},
        {L"\\\\?\\C:\\", std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.marker);
        EXPECT_EQ(log_directory_for(row.marker), row.logs);
    }
}

struct LogFiles {
    TempDirectory root;
    std::wstring marker = root.path + L"\\app data\\state\\marker.json";
    std::wstring logs = root.path + L"\\app data\\state\\logs";
    std::wstring current = logs + L"\\system-state-recovery.log";
    std::wstring previous = logs + L"\\system-state-recovery.previous.log";
};

std::string line_body(const std::string& line) {
    return line.substr(line.find(' '));
}

TEST(RecoveryLogFile, FirstCallCreatesEveryMissingFolder) {
    LogFiles files;
    append_recovery_log(files.marker, "restore", "first");
    const std::string content = read_file(files.current).value();
    EXPECT_EQ(line_body(content), " [restore] first\n");
    const auto now = std::to_string(time(nullptr));
    EXPECT_LE(std::stoull(content), std::stoull(now));
    EXPECT_GE(std::stoull(content) + 5, std::stoull(now));
}

TEST(RecoveryLogFile, AppendsOneLinePerCall) {
    LogFiles files;
    append_recovery_log(files.marker, "watchdog", "a\r\nb");
    append_recovery_log(files.marker, "restore", "");
    const std::string content = read_file(files.current).value();
    const auto first_end = content.find('\n');
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_EQ(line_body(content.substr(0, first_end + 1)), " [watchdog] a  b\n");
    EXPECT_EQ(line_body(content.substr(first_end + 1)), " [restore] \n");
}

TEST(RecoveryLogFile, JustBelowTheThresholdGrowsThenRotatesOnTheNextCall) {
    LogFiles files;
    append_recovery_log(files.marker, "t", "create folder");
    write_file(files.current, std::string(524287, 'x'));
    append_recovery_log(files.marker, "t", "grows");
    EXPECT_GT(read_file(files.current)->size(), 524287u);
    EXPECT_FALSE(read_file(files.previous));

    append_recovery_log(files.marker, "t", "rotated");
    EXPECT_EQ(line_body(read_file(files.current).value()), " [t] rotated\n");
    EXPECT_EQ(read_file(files.previous)->substr(0, 524287), std::string(524287, 'x'));
}

TEST(RecoveryLogFile, AtTheThresholdReplacesThePreviousGeneration) {
    LogFiles files;
    append_recovery_log(files.marker, "t", "create folder");
    write_file(files.current, std::string(524288, 'y'));
    write_file(files.previous, "older generation");
    append_recovery_log(files.marker, "t", "fresh");
    EXPECT_EQ(read_file(files.previous).value(), std::string(524288, 'y'));
    EXPECT_EQ(line_body(read_file(files.current).value()), " [t] fresh\n");
}

// Under Wine, drive Z: names the whole Unix file system, so every folder of drive C: has a second
// name there, whose final path names drive C:.
std::optional<std::wstring> second_name_of(const std::wstring& folder) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unix_name != nullptr ? unix_name(folder.c_str()) : nullptr;
    if (name == nullptr) {
        return std::nullopt;
    }
    std::wstring second = L"Z:";
    for (const char* c = name; *c != '\0'; ++c) {
        second.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    HeapFree(GetProcessHeap(), 0, name);
    return file_exists(second) ? std::optional(second) : std::nullopt;
}

// A second drive letter for a folder is no link anyone of fewer rights made: the line lands in
// the one folder's log, whichever name the marker was given by.
TEST(RecoveryLogFile, AFolderReachedByASecondDriveGetsItsOneLog) {
    TempDirectory root;
    const auto second = second_name_of(root.path);
    if (!second) {
        GTEST_SKIP() << "no second name for a folder here";
    }
    append_recovery_log(*second + L"\\marker.json", "t", "through a second name");
    append_recovery_log(root.path + L"\\marker.json", "t", "own name");
    EXPECT_EQ(testing::log_lines_without_time(root.path + L"\\logs\\system-state-recovery.log"),
              (std::vector<std::string>{"[t] through a second name", "[t] own name"}));
}

// A log that has a second name (a hard link) would let the line land in a file anywhere on the
// volume: it is not written.
TEST(RecoveryLogFile, ALogWithASecondNameIsNotWritten) {
    LogFiles files;
    append_recovery_log(files.marker, "t", "create folder");
    const std::wstring elsewhere = files.root.path + L"\\elsewhere.txt";
    ASSERT_TRUE(CreateHardLinkW(elsewhere.c_str(), files.current.c_str(), nullptr));
    const std::string before = read_file(elsewhere).value();
    append_recovery_log(files.marker, "t", "lost");
    EXPECT_EQ(read_file(elsewhere).value(), before);
}

TEST(RecoveryLogFile, AFileNamedLogsBlocksWritingSilently) {
    TempDirectory root;
    const std::wstring marker = root.path + L"\\marker.json";
    write_file(root.path + L"\\logs", "not a folder");
    append_recovery_log(marker, "t", "lost");
    EXPECT_EQ(read_file(root.path + L"\\logs").value(), "not a folder");
}

TEST(RecoveryLogFile, AppendsWhileAnotherWriterHoldsTheLogOpen) {
    LogFiles files;
    append_recovery_log(files.marker, "t", "one");
    UniqueHandle other(CreateFileW(files.current.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other);
    DWORD written = 0;
    WriteFile(other.get(), "other\n", 6, &written, nullptr);
    append_recovery_log(files.marker, "t", "two");
    other.reset();
    const std::string content = read_file(files.current).value();
    EXPECT_NE(content.find("other\n"), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - 9), " [t] two\n");
}

TEST(RecoveryLogFile, AMarkerPathWithoutParentWritesNothing) {
    if (GetFileAttributesW(L"C:\\logs") != INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "C:\\logs exists already";
    }
    append_recovery_log(L"C:\\", "t", "nowhere");
    EXPECT_EQ(GetFileAttributesW(L"C:\\logs"), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace watchdog
