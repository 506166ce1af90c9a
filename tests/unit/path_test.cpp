#include "win/module_path.h"
#include "win/path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace watchdog {
namespace {

// A component that makes any path it is in too long for the classic form.
const std::wstring long_name(300, L'n');

std::wstring current_directory() {
    wchar_t buffer[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    std::wstring directory(buffer);
    if (directory.back() != L'\\') {
        directory.push_back(L'\\');
    }
    return directory;
}

struct FileSystemPathCase {
    const char* name;
    std::wstring path;
    std::wstring expected;
};

TEST(FileSystemPath, TakesTheExtendedFormOnlyWhenTheFullPathIsTooLong) {
    const std::wstring relative_long = L"folder\\" + long_name + L"\\m.json";
    const FileSystemPathCase cases[] = {
        {"short drive path, as it is", L"C:\\state\\m.json", L"C:\\state\\m.json"},
        {"short relative path, as it is", L"m.json", L"m.json"},
        {"long drive path", L"C:\\" + long_name + L"\\m.json",
         L"\\\\?\\C:\\" + long_name + L"\\m.json"},
        {"long path, normalised first", L"C:/x/../" + long_name + L"/./m.json",
         L"\\\\?\\C:\\" + long_name + L"\\m.json"},
        {"long relative path", relative_long, L"\\\\?\\" + current_directory() + relative_long},
        {"long UNC path", L"\\\\server\\share\\" + long_name,
         L"\\\\?\\UNC\\server\\share\\" + long_name},
        {"long extended path, as it is", L"\\\\?\\C:\\x\\..\\" + long_name,
         L"\\\\?\\C:\\x\\..\\" + long_name},
        {"long extended UNC path, as it is", L"\\\\?\\UNC\\server\\share\\" + long_name,
         L"\\\\?\\UNC\\server\\share\\" + long_name},
        {"device path, as it is", L"\\\\.\\NUL", L"\\\\.\\NUL"},
        // A folder's classic path holds 247 characters at most (room for an 8.3 name inside).
        {"247 characters in full, as it is", L"C:\\" + std::wstring(244, L'a'),
         L"C:\\" + std::wstring(244, L'a')},
        {"248 characters in full", L"C:\\" + std::wstring(245, L'a'),
         L"\\\\?\\C:\\" + std::wstring(245, L'a')},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(file_system_path(row.path), row.expected);
    }
}

// A final path (every link resolved, in the extended-length form) against the name the log
// folder was meant to have.
TEST(FinalPath, NamesThePlaceOnlyWhereTheNameSaysWhateverItsForm) {
    struct Case {
        const char* name;
        std::wstring final_path;
        std::wstring path;
        bool same;
    };
    const Case cases[] = {
        {"equal", L"\\\\?\\C:\\d\\logs", L"C:\\d\\logs", true},
        {"another folder", L"\\\\?\\C:\\e\\logs", L"C:\\d\\logs", false},
        {"a longer name beside it", L"\\\\?\\C:\\d\\logs2", L"C:\\d\\logs", false},
        {"named in the extended-length form", L"\\\\?\\C:\\d\\logs", L"\\\\?\\C:\\d\\logs", true},
        {"a share", L"\\\\?\\UNC\\server\\share\\logs", L"\\\\server\\share\\logs", true},
        {"another share", L"\\\\?\\UNC\\server\\other\\logs", L"\\\\server\\share\\logs", false},
        {"a share named by a mapped drive", L"\\\\?\\UNC\\server\\share\\logs", L"Z:\\logs", false},
        {"letter case, which Win32 names ignore", L"\\\\?\\C:\\D\\Logs", L"c:\\d\\LOGS", true},
        {"a separator at the end", L"\\\\?\\C:\\d\\logs", L"C:\\d\\logs\\", true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(names_same_place(row.final_path, row.path), row.same);
    }
}

// The system folder only: a library of the name beside the program is not taken.
TEST(SystemLibrary, IsNeverTakenFromBesideTheProgram) {
    EXPECT_TRUE(load_system_library(L"bcrypt.dll"));
    EXPECT_FALSE(load_system_library(L"system-state-watchdog-client.dll"));
}

} // namespace

} // namespace watchdog
