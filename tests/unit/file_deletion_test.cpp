#include "win/file_write.h"
#include "win/files.h"
#include "win/held_folder.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace watchdog {
namespace {

// Each SetFileInformationByHandle call as {class, value}: the flags of FILE_DISPOSITION_INFO_EX
// (a ULONG) or the DeleteFile of FILE_DISPOSITION_INFO (a BOOLEAN). `results` says how each
// call ends: 0 succeeds, anything else fails with that error.
std::vector<std::pair<int, unsigned long>> calls;
std::vector<DWORD> results;

BOOL WINAPI recording_set_information(HANDLE, FILE_INFO_BY_HANDLE_CLASS information_class,
                                      LPVOID data, DWORD size) {
    calls.emplace_back(information_class, size == sizeof(ULONG) ? *static_cast<ULONG*>(data)
                                                                : *static_cast<BOOLEAN*>(data));
    SetLastError(results.at(calls.size() - 1));
    return results[calls.size() - 1] == 0 ? TRUE : FALSE;
}

TEST(FileDeletion, AsksForPosixDeletionAndFallsBackOnlyWhereItIsRefused) {
    const std::pair<int, unsigned long> posix{21, 0x3}; // FileDispositionInfoEx, DELETE | POSIX
    const std::pair<int, unsigned long> classic{4, 1};  // FileDispositionInfo, DeleteFile
    struct Case {
        const char* name;
        std::vector<DWORD> results;
        std::vector<std::pair<int, unsigned long>> expected_calls;
        std::optional<DWORD> error;
    };
    const Case cases[] = {
        {"POSIX deletion", {0}, {posix}, std::nullopt},
        {"refused as invalid (Wine, old Windows)", {87, 0}, {posix, classic}, std::nullopt},
        {"refused as not supported", {50, 0}, {posix, classic}, std::nullopt},
        {"refused as not implemented by the driver", {1, 0}, {posix, classic}, std::nullopt},
        {"a read-only file is not retried", {5}, {posix}, 5},
        {"the classic form's own failure", {50, 5}, {posix, classic}, 5},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        calls.clear();
        results = row.results;
        const auto deleted = delete_open_file(nullptr, recording_set_information);
        EXPECT_EQ(calls, row.expected_calls);
        EXPECT_EQ(deleted ? std::nullopt : std::optional<DWORD>(deleted.error().code), row.error);
    }
}

// A held folder stays where it was checked to be: neither it nor one opened through it can be
// renamed or removed until it is let go.
TEST(HeldFolder, CanBeNeitherRenamedNorRemovedWhileHeld) {
    const testing::TempDirectory root;
    const std::wstring outer = root.path + L"\\outer";
    const std::wstring inner = outer + L"\\inner";
    const std::wstring elsewhere = root.path + L"\\elsewhere";
    ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr));
    {
        const auto held = hold_folder(outer, false, this_process_trust());
        ASSERT_TRUE(held);
        EXPECT_FALSE(MoveFileW(outer.c_str(), elsewhere.c_str()));
        EXPECT_FALSE(RemoveDirectoryW(outer.c_str()));
        const auto held_inner = hold_folder(inner, true, this_process_trust());
        ASSERT_TRUE(held_inner) << "the folder was not created";
        EXPECT_FALSE(MoveFileW(inner.c_str(), elsewhere.c_str()));
        EXPECT_FALSE(RemoveDirectoryW(inner.c_str()));
    }
    EXPECT_TRUE(MoveFileW(inner.c_str(), elsewhere.c_str())) << "let go, it moves";
    EXPECT_TRUE(RemoveDirectoryW(outer.c_str())) << "let go, it goes";
}

std::expected<UniqueHandle, Win32Failure>
handle_of(std::expected<HeldFolder, Win32Failure> folder) {
    if (!folder) {
        return std::unexpected(folder.error());
    }
    return std::move(folder->handle);
}

// A folder's contents are opened through a native call, whose failure is told as the Win32 error
// that kernel32 would have set for it, not as whatever last error an earlier call left.
TEST(HeldFolder, AnOpenThroughItThatFailsCarriesTheWin32Error) {
    const testing::TempDirectory root;
    ASSERT_TRUE(CreateDirectoryW((root.path + L"\\folder").c_str(), nullptr));
    testing::write_file(root.path + L"\\file", "x");
    const auto held = hold_folder(root.path, false, this_process_trust());
    ASSERT_TRUE(held);
    const HANDLE folder = held->handle.get();
    SetLastError(ERROR_SUCCESS);
    const struct {
        const char* name;
        std::expected<UniqueHandle, Win32Failure> opened;
        DWORD error;
    } cases[] = {
        {"a file opened as a folder", open_in(folder, L"file", {.kind = OpenKind::folder}),
         ERROR_DIRECTORY},
        {"a folder opened as a file", open_in(folder, L"folder", {GENERIC_READ, FILE_SHARE_READ}),
         ERROR_ACCESS_DENIED},
        {"no folder to open through", open_in(nullptr, L"x", {.kind = OpenKind::folder}),
         ERROR_INVALID_PARAMETER},
        {"a folder that is not there", open_in(folder, L"gone", {.kind = OpenKind::folder}),
         ERROR_FILE_NOT_FOUND},
        {"a new file where one is",
         open_in(folder, L"file", {GENERIC_WRITE, 0, Disposition::create_new}),
         ERROR_ALREADY_EXISTS},
        {"a folder held that is not there",
         handle_of(hold_folder(root.path + L"\\gone", false, this_process_trust())),
         ERROR_FILE_NOT_FOUND},
        {"a file in a folder's place",
         handle_of(hold_folder(root.path + L"\\file\\below", true, this_process_trust())),
         ERROR_DIRECTORY},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.opened.has_value());
        EXPECT_EQ(row.opened.error(), Win32Failure{row.error});
    }
}

// Each WriteFile call takes at most the next of `takes` bytes; one call more fails, as on a
// full disk.
std::vector<DWORD> takes;
std::string taken;
std::size_t write_calls = 0;

BOOL WINAPI taking_write(HANDLE, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
    if (write_calls == takes.size()) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    *written = std::min(size, takes[write_calls++]);
    taken.append(static_cast<const char*>(data), *written);
    return TRUE;
}

TEST(FileWrite, WritesOnUntilAllIsTakenAndStopsOnAWriteThatTakesNothing) {
    struct Case {
        std::vector<DWORD> takes;
        std::string taken;
        std::optional<DWORD> error;
    };
    const Case cases[] = {
        {{3, 3, 4}, "abcdefghij", std::nullopt},
        {{4, 0, 6}, "abcd", ERROR_WRITE_FAULT}, // taking nothing ends it
        {{4}, "abcd", ERROR_DISK_FULL},
    };
    for (const auto& row : cases) {
        takes = row.takes;
        taken.clear();
        write_calls = 0;
        const auto written = write_all(nullptr, "abcdefghij", taking_write);
        EXPECT_EQ(taken, row.taken);
        EXPECT_EQ(written ? std::nullopt : std::optional<DWORD>(written.error().code), row.error);
    }
}

std::string taken_when_flushed;
BOOL flush_result = TRUE;

BOOL WINAPI recording_flush(HANDLE) {
    taken_when_flushed = taken;
    SetLastError(ERROR_DISK_FULL);
    return flush_result;
}

// What is to replace another file is on the disk before it does: flushed after the last byte,
// and a flush that fails is a failed write.
TEST(FileWrite, ADurableWriteIsFlushedOnceAllIsWritten) {
    for (const BOOL flushed : {TRUE, FALSE}) {
        takes = {2, 8};
        taken.clear();
        taken_when_flushed = "not flushed";
        write_calls = 0;
        flush_result = flushed;
        const auto written = write_durably(nullptr, "abcdefghij", recording_flush, taking_write);
        EXPECT_EQ(taken_when_flushed, "abcdefghij");
        EXPECT_EQ(written ? std::nullopt : std::optional<DWORD>(written.error().code),
                  flushed ? std::nullopt : std::optional<DWORD>(ERROR_DISK_FULL));
    }
}

} // namespace
} // namespace watchdog
