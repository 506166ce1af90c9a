// The integrator guide's examples, built by an outside project against the installed package
// (scripts/build-consumer.sh; scripts/build-bindings.sh for Rust and Go) and against the release
// archive unpacked (scripts/build-consumer.sh with the archive), each run as the main application
// on a stand-in desktop: once it crashes and the watchdog it started puts the desktop back, once
// it exits cleanly and puts the desktop back itself. Each logs the client library's version
// first.

#include "scenario.h"
#include "stated_version.h"

#include <gtest/gtest.h>

#include <chrono>

namespace watchdog::testing {
namespace {

struct ExampleCase {
    const char* name;
    const wchar_t* executable; // in the consumer project's folder, beside this tree's own
    bool crashes;
};

std::wstring example_executable(const wchar_t* name) {
    return sibling_executable(L"..\\") + name;
}

// What the example wrote to its standard output and error (less than the pipe holds), once it has
// ended.
std::string output_of(HANDLE pipe) {
    std::string output(1 << 16, '\0');
    DWORD available = 0;
    DWORD read = 0;
    const bool any = PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0;
    output.resize(any && ReadFile(pipe, output.data(), available, &read, nullptr) ? read : 0);
    return output;
}

bool primary_taskbar_shown(Scene& scene) {
    const DesktopState state = desktop_state(scene);
    return !state.taskbars.empty() && state.taskbars.front().visible;
}

template <typename Condition> bool becomes_true(Condition condition) {
    for (int waited = 0; waited < 300; ++waited) {
        if (condition()) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

void check_example(const ExampleCase& row) {
    SCOPED_TRACE(row.name);
    Scene scene;
    // The examples keep their marker under %LOCALAPPDATA%\ExampleApp.
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", scene.folder.path.c_str()));
    const std::wstring marker = scene.folder.path + L"\\ExampleApp\\desktop-recovery.json";
    const std::wstring log = scene.folder.path + L"\\ExampleApp\\logs\\system-state-recovery.log";
    const DesktopState before = desktop_state(scene);
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle input_read;
    UniqueHandle input_write;
    ASSERT_TRUE(CreatePipe(input_read.put(), input_write.put(), &inheritable, 0));
    SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle output_read;
    UniqueHandle output_write;
    ASSERT_TRUE(CreatePipe(output_read.put(), output_write.put(), &inheritable, 1 << 16));
    SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0);
    const ChildProcess application = start_process(example_executable(row.executable), {},
                                                   {.desktop = scene.ground.desktop.name,
                                                    .standard_output = output_write.get(),
                                                    .standard_input = input_read.get()});
    input_read.reset();
    output_write.reset();

    // The application runs once it has changed the desktop, protected by then.
    ASSERT_TRUE(becomes_true([&] { return !primary_taskbar_shown(scene); }));
    ASSERT_TRUE(file_exists(marker));
    if (row.crashes) {
        terminate(application);
        EXPECT_TRUE(becomes_true([&] { return !log_lines_without_time(log).empty(); }));
        EXPECT_EQ(log_lines_without_time(log),
                  std::vector<std::string>{"[restore] 系统状态恢复完成: 任务栏、桌面图标"});
    } else {
        DWORD written = 0;
        WriteFile(input_write.get(), "\n", 1, &written, nullptr);
        EXPECT_EQ(wait_for_exit(application, generous_wait), 0u);
        EXPECT_FALSE(file_exists(log)) << "the watchdog found a marker after a clean exit";
    }
    EXPECT_FALSE(file_exists(marker));
    EXPECT_EQ(desktop_state(scene), before);
    const std::string output = output_of(output_read.get());
    EXPECT_EQ(output.substr(0, output.find_first_of("\r\n")),
              "system state watchdog client " + stated_version())
        << output;
}

TEST(IntegratorExamples, ProtectTheDesktopThroughACrashAndPutItBackOnACleanExit) {
    const ExampleCase cases[] = {
        {"C++, crash", L"consumer\\bin\\example-cpp.exe", true},
        {"C++, clean exit", L"consumer\\bin\\example-cpp.exe", false},
        {"C, crash", L"consumer\\bin\\example-c.exe", true},
        {"C, clean exit", L"consumer\\bin\\example-c.exe", false},
        {"Rust, crash", L"consumer\\bin\\example-rust.exe", true},
        {"Rust, clean exit", L"consumer\\bin\\example-rust.exe", false},
        {"Go, crash", L"consumer\\bin\\example-go.exe", true},
        {"Go, clean exit", L"consumer\\bin\\example-go.exe", false},
        // The release, signed, as a new user builds against it from the unpacked archive alone.
        {"C++ from the archive, crash", L"consumer-archive\\example-cpp.exe", true},
        {"C from the archive, clean exit", L"consumer-archive\\example-c.exe", false},
        {"C, static, from the archive, crash", L"consumer-archive\\c\\example-c-static.exe", true},
        {"C by hand from the archive, clean exit", L"consumer-archive\\example-c-plain.exe", false},
        {"Rust from the archive, crash", L"consumer-archive\\example-rust.exe", true},
        {"Go from the archive, clean exit", L"consumer-archive\\example-go.exe", false},
    };
    for (const auto& row : cases) {
        check_example(row);
    }
}

} // namespace
} // namespace watchdog::testing
