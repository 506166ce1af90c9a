#include "win/files.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace watchdog {
namespace {

// One SetFileInformationByHandle call as the deletion made it: the class, and the flags of the
// extended disposition or the classic DeleteFile value.
struct DispositionCall {
    int information_class;
    unsigned long value;
    bool operator==(const DispositionCall&) const = default;
};

std::vector<DispositionCall> calls;
std::vector<DWORD> results; // 0: the call succeeds, else it fails with that error

BOOL WINAPI recording_set_information(HANDLE, FILE_INFO_BY_HANDLE_CLASS information_class,
                                      LPVOID data, DWORD size) {
    // FILE_DISPOSITION_INFO holds one BOOLEAN, FILE_DISPOSITION_INFO_EX one ULONG of flags.
    const unsigned long value =
        size == sizeof(ULONG) ? *static_cast<ULONG*>(data) : *static_cast<BOOLEAN*>(data);
    calls.push_back({static_cast<int>(information_class), value});
    const DWORD result = results.at(calls.size() - 1);
    SetLastError(result);
    return result == 0 ? TRUE : FALSE;
}

constexpr int extended_class = 21;          // FileDispositionInfoEx
constexpr int classic_class = 4;            // FileDispositionInfo
constexpr unsigned long posix_delete = 0x3; // DELETE | POSIX_SEMANTICS
const DispositionCall posix{extended_class, posix_delete};
const DispositionCall classic{classic_class, 1};

TEST(FileDeletion, AsksForPosixDeletionAndFallsBackOnlyWhereItIsRefused) {
    struct Case {
        const char* name;
        std::vector<DWORD> results;
        std::vector<DispositionCall> expected_calls;
        std::optional<DWORD> error;
    };
    const Case cases[] = {
        {"POSIX deletion", {0}, {posix}, std::nullopt},
        {"refused as invalid (Wine, old Windows)",
         {ERROR_INVALID_PARAMETER, 0},
         {posix, classic},
         std::nullopt},
        {"refused as not supported", {ERROR_NOT_SUPPORTED, 0}, {posix, classic}, std::nullopt},
        {"a read-only file is not retried", {ERROR_ACCESS_DENIED}, {posix}, ERROR_ACCESS_DENIED},
        {"the classic form's own failure",
         {ERROR_NOT_SUPPORTED, ERROR_ACCESS_DENIED},
         {posix, classic},
         ERROR_ACCESS_DENIED},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        calls.clear();
        results = row.results;
        const auto deleted = delete_open_file(nullptr, recording_set_information);
        EXPECT_EQ(calls, row.expected_calls);
        if (row.error) {
            ASSERT_FALSE(deleted.has_value());
            EXPECT_EQ(deleted.error(), *row.error);
        } else {
            EXPECT_TRUE(deleted.has_value());
        }
    }
}

} // namespace
} // namespace watchdog
