// The client DLL stays loaded once it may have started a thread.

#include <system_state_watchdog/client.h>

#include "test_files.h"
#include "win/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

// A call that may start the restore's worker thread pins the DLL: unloaded under a running
// thread, the process would crash.
TEST(ClientDll, StaysLoadedOnceACallMayHaveStartedAThread) {
    const wchar_t* name = L"system-state-watchdog-client.dll";
    HMODULE dll = LoadLibraryW(name);
    ASSERT_NE(dll, nullptr);
    using Record =
        ssw_status (*)(const char*, unsigned, const char*, ssw_recorded**, char*, size_t);
    const auto record = reinterpret_cast<Record>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll, "ssw_record_desktop")));
    ASSERT_NE(record, nullptr);
    testing::TempDirectory folder;
    const std::string marker = utf16_to_utf8(folder.path) + "\\marker.json";
    using Free = void (*)(ssw_recorded*);
    const auto free_recorded = reinterpret_cast<Free>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll, "ssw_recorded_free")));
    ASSERT_NE(free_recorded, nullptr);
    ssw_recorded* recorded = nullptr;
    // Whatever this desktop has to record, the call gets as far as the shell.
    EXPECT_NE(record(marker.c_str(), SSW_ITEM_TASKBAR, "pinned", &recorded, nullptr, 0),
              SSW_INVALID_ARGUMENT);
    free_recorded(recorded);

    FreeLibrary(dll);

    EXPECT_NE(GetModuleHandleW(name), nullptr);
}

} // namespace
} // namespace watchdog
