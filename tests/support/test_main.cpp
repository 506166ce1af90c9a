// The entry point of every test executable. Once the results are written, the process ends
// without running DLL detach code: under Wine, a process that created windows on private
// desktops now and then hangs in its own exit, long after every test has passed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}
