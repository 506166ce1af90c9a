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

std::wstring string_value(std::vector<BYTE>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    return VerQueryValueW(info.data(), query.c_str(), &value, &length) && length > 0
               ? static_cast<const wchar_t*>(value)
               : L"(none)";
}

TEST(VersionResources, TheExecutablesAndTheDllStateTheManifestVersion) {
    const std::string stated = stated_version();
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(stated.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << stated;
    const std::wstring stated_text(stated.begin(), stated.end());
    const std::pair<const wchar_t*, DWORD> cases[] = {
        {L"system-state-watchdog.exe", VFT_APP},
        {L"system-state-watchdog-uninstall.exe", VFT_APP},
        {L"system-state-watchdog-client.dll", VFT_DLL},
    };
    for (const auto& [file, file_type] : cases) {
        SCOPED_TRACE(::testing::Message() << file);
        const std::wstring path = sibling_executable(file);
        DWORD ignored = 0;
        std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileType, file_type);
        EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
        EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        EXPECT_EQ(string_value(info, L"FileVersion"), stated_text);
        EXPECT_EQ(string_value(info, L"ProductVersion"), stated_text);
        EXPECT_EQ(string_value(info, L"OriginalFilename"), file);
    }
}

} // namespace
} // namespace watchdog::testing
