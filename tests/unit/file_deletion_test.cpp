#include "win/files.h"

#include <gtest/gtest.h>

#include <optional>
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
        EXPECT_EQ(deleted ? std::nullopt : std::optional<DWORD>(deleted.error()), row.error);
    }
}

} // namespace
} // namespace watchdog
