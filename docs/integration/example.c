/* Protect the desktop, change it, and put it back: the client library's C API. */
#include <stdio.h>
#include <string.h>
#include <system_state_watchdog/client.h>
#include <windows.h>

int main(void) {
    char marker[MAX_PATH * 3], message[512] = "";
    ssw_protection* protection = NULL;
    SetConsoleOutputCP(CP_UTF8); /* the library's messages are UTF-8 (and Chinese) */
    fprintf(stderr, "system state watchdog client %s\n", ssw_library_version()); /* for the log */
    WideCharToMultiByte(CP_UTF8, 0, _wgetenv(L"LOCALAPPDATA"), -1, marker, MAX_PATH * 2, NULL,
                        NULL);
    strcat(marker, "\\ExampleApp\\desktop-recovery.json"); /* the texts are UTF-8 */
    /* Settles what a crashed earlier run left, records, writes the marker, starts the watchdog
     * beside this program (NULL). */
    if (ssw_protect_desktop(marker, SSW_ITEM_TASKBAR | SSW_ITEM_DESKTOP_ICONS, NULL, &protection,
                            message, sizeof message) != SSW_OK) {
        fprintf(stderr, "not protected: %s\n", message); /* and nothing left behind */
        return 1;
    }
    ShowWindow(FindWindowW(L"Shell_TrayWnd", NULL), SW_HIDE); /* the application's change */
    getchar();                                                /* ... the application runs ... */
    /* A clean exit puts the desktop back itself, and the marker goes; protection is released. */
    return ssw_end_protection(protection, message, sizeof message) == SSW_OK ? 0 : 1;
}
