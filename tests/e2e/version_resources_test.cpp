// The shipped binaries tell Windows (Explorer's properties, an installer, a crash report) the
// version that the manifest states, and what kind of file they are.

#include "processes.h"
#include "stated_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace watchdog::testing {
namespace {

struct BinaryCase {
    const wchar_t* file;
    DWORD file_type;
};

struct VersionInfo {
    std::vector<BYTE> data;
    bool read = false;
};

VersionInfo version_info_of(const std::wstring& path) {
    VersionInfo info;
    DWORD ignored = 0;
    info.data.resize(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    info.read = !info.data.empty() &&
                GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.data.size()),
                                    info.data.data());
    return info;
}

std::wstring string_value(VersionInfo& info, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(info.data.data(), query.c_str(), &value, &length) || length == 0) {
        return L"(none)";
    }
    return static_cast<const wchar_t*>(value);
}

TEST(VersionResources, TheExecutableAndTheDllStateTheManifestVersion) {
    const std::string stated = stated_version();
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(stated.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << stated;
    const std::wstring stated_text(stated.begin(), stated.end());
    const BinaryCase cases[] = {
        {L"system-state-watchdog.exe", VFT_APP},
        {L"system-state-watchdog-client.dll", VFT_DLL},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(::testing::Message() << row.file);
        VersionInfo info = version_info_of(sibling_executable(row.file));
        ASSERT_TRUE(info.read);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            VerQueryValueW(info.data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileType, row.file_type);
        EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
        EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        EXPECT_EQ(string_value(info, L"FileVersion"), stated_text);
        EXPECT_EQ(string_value(info, L"ProductVersion"), stated_text);
        EXPECT_EQ(string_value(info, L"OriginalFilename"), row.file);
    }
}

} // namespace
} // namespace watchdog::testing
