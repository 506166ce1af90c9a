// The baseline for the watcher's restore time: a statically linked GUI program started like the
// watcher (--watch <process id> <session id> <marker path>) that only waits for the process to
// end and then deletes the marker. The watcher's extra time over it is the restore run's own.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 5) {
        return 2;
    }
    const auto process_id = static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10));
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id)) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
    }
    return DeleteFileW(arguments[4]) ? 0 : 1;
}
