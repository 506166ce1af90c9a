/* Protect the desktop, change it, and put it back: the client library's C API. */
#include <stdio.h>
#include <string.h>
#include <system_state_watchdog/client.h>
#include <windows.h>

int main(void) {
    char marker[MAX_PATH * 3], session[SSW_SESSION_ID_SIZE], message[512] = "";
    ssw_recorded* recorded = NULL;
    WideCharToMultiByte(CP_UTF8, 0, _wgetenv(L"LOCALAPPDATA"), -1, marker, MAX_PATH * 2, NULL,
                        NULL);
    strcat(marker, "\\ExampleApp\\desktop-recovery.json"); /* the texts are UTF-8 */
    ssw_settle_leftover_marker(marker, NULL, 0);
    ssw_new_session_id(session, sizeof session);
    if (ssw_record_desktop(marker, SSW_ITEM_TASKBAR | SSW_ITEM_DESKTOP_ICONS, session, &recorded,
                           message, sizeof message) != SSW_OK ||
        ssw_write_marker(marker, recorded, message, sizeof message) != SSW_OK ||
        ssw_start_watchdog(NULL, session, marker, NULL, message, sizeof message) != SSW_OK) {
        fprintf(stderr, "not protected: %s\n", message);
        ssw_recorded_free(recorded);
        return 1;
    }
    ShowWindow(FindWindowW(L"Shell_TrayWnd", NULL), SW_HIDE); /* the application's change */
    getchar();                                                /* ... the application runs ... */
    ssw_restore_desktop(recorded, NULL, 0); /* a clean exit puts the desktop back itself */
    ssw_finish_cleanly(marker, session, NULL, 0);
    ssw_recorded_free(recorded);
    return 0;
}
