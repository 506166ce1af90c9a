/* The system state watchdog's client library as a plain C API, for main applications in C and
 * for the foreign-function interfaces of C#, Rust, Go and the like: the same operations as
 * client.hpp, with UTF-8 texts (paths included), status codes, and messages written into a
 * buffer that the caller provides.
 *
 * Most applications need two calls: ssw_protect_desktop at start, and only then change the
 * desktop; ssw_end_protection on a clean exit. The steps apart, in their order: at start
 * ssw_settle_leftover_marker, ssw_new_session_id, ssw_record_desktop, ssw_write_marker,
 * ssw_start_watchdog, and only then change the desktop; on a clean exit ssw_restore_desktop (or
 * the application's own way back), then ssw_finish_cleanly. docs/client-api.md describes every
 * call.
 *
 * An empty session id is an invalid argument, like NULL. Every function that takes `message` and
 * `message_size` writes a UTF-8 text there, terminated and cut (between characters) to fit: empty
 * on SSW_OK, the reason otherwise. NULL or a size of 0 skips it. No function keeps a pointer it
 * was given, and none throws or calls back. */
#ifndef SYSTEM_STATE_WATCHDOG_CLIENT_H
#define SYSTEM_STATE_WATCHDOG_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(SSW_CLIENT_DLL)
#define SSW_API __declspec(dllimport)
#else
#define SSW_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ssw_status {
    SSW_OK = 0,
    SSW_FAILED = 1,               /* see the message */
    SSW_INVALID_ARGUMENT = 2,     /* a NULL pointer, text that is not UTF-8, no item named */
    SSW_MARKER_UNSETTLED = 3,     /* record, write, protect: a marker is (or came to be) at the
                                     path; settle or discard it */
    SSW_NO_MARKER = 4,            /* settle, finish, discard: nothing was at the path */
    SSW_LEFT_TO_LIVE_RUN = 5,     /* settle, discard, protect: the run that wrote it, or its
                                     watcher, is alive; protect: another run protects an item */
    SSW_OTHER_SESSION = 6,        /* finish: the marker holds another session; left as it is */
    SSW_LAUNCHER_FAILED = 7,      /* start, protect: the launcher ended with an error (exit code
                                     2, 3 or 4, or another), or did not end and was ended */
    SSW_LAUNCHER_NOT_STARTED = 8, /* start, protect: the launcher itself could not be started */
    SSW_BUFFER_TOO_SMALL = 9      /* new session id: the buffer cannot hold it */
} ssw_status;

/* The items to record, or-ed together. */
#define SSW_ITEM_TASKBAR 1u
#define SSW_ITEM_DESKTOP_ICONS 2u

/* A session id fits in this many bytes, the terminating zero included. */
#define SSW_SESSION_ID_SIZE 64u

/* The desktop as recorded; owned by the caller, released with ssw_recorded_free. */
typedef struct ssw_recorded ssw_recorded;

/* A session id that no other run has had (printable ASCII). SSW_BUFFER_TOO_SMALL unless `size`
 * holds it and its terminating zero; SSW_INVALID_ARGUMENT for a NULL buffer. */
SSW_API ssw_status ssw_new_session_id(char* session_id, size_t size);

/* Records the named items now. Refuses with SSW_MARKER_UNSETTLED while a marker is at the
 * path. On SSW_OK, *recorded is the caller's. */
SSW_API ssw_status ssw_record_desktop(const char* marker_path, unsigned items,
                                      const char* session_id, ssw_recorded** recorded,
                                      char* message, size_t message_size);

SSW_API void ssw_recorded_free(ssw_recorded* recorded);

/* Like ssw_record_desktop (which records at once), once the shell shows the named items: waits
 * at most `wait_for_shell_ms` (never more than a minute), looking every 100 ms, for the taskbar
 * and the desktop icon view, a start at logon coming before the shell has put them up. After
 * that, SSW_FAILED with a message that says what did not appear. */
SSW_API ssw_status ssw_record_desktop_within(const char* marker_path, unsigned items,
                                             const char* session_id, uint32_t wait_for_shell_ms,
                                             ssw_recorded** recorded, char* message,
                                             size_t message_size);

/* Writes the marker without ever leaving half of one at the path. A run's first marker never
 * replaces another one (SSW_MARKER_UNSETTLED); the run's own marker again replaces it. */
SSW_API ssw_status ssw_write_marker(const char* marker_path, const ssw_recorded* recorded,
                                    char* message, size_t message_size);

/* Starts the watchdog for this process and waits for its launcher. `watchdog_executable` NULL
 * means system-state-watchdog.exe beside this program. `launcher_exit_code` (may be NULL)
 * receives the launcher's exit code when it ended. */
SSW_API ssw_status ssw_start_watchdog(const char* watchdog_executable, const char* session_id,
                                      const char* marker_path, uint32_t* launcher_exit_code,
                                      char* message, size_t message_size);

/* Puts back in this process what was recorded, for a clean exit. */
SSW_API ssw_status ssw_restore_desktop(const ssw_recorded* recorded, char* message,
                                       size_t message_size);

/* Removes the marker after a clean exit, only while it holds this session, and tells the
 * watcher to stand down (waiting at most 5 s for a watcher that this process started). */
SSW_API ssw_status ssw_finish_cleanly(const char* marker_path, const char* session_id,
                                      char* message, size_t message_size);

/* Restores a marker left behind, as the watchdog would have; SSW_FAILED keeps it. Waits for the
 * shell's windows the marker records at most 10 s (see ssw_settle_leftover_marker_waiting). */
SSW_API ssw_status ssw_settle_leftover_marker(const char* marker_path, char* message,
                                              size_t message_size);

/* Deletes a marker that cannot be settled, by the caller's explicit choice, and logs it. */
SSW_API ssw_status ssw_discard_leftover_marker(const char* marker_path, char* message,
                                               size_t message_size);

/* Like ssw_settle_leftover_marker (which waits 10 s), waiting at most `wait_for_watcher_ms`
 * (never more than a minute) for a watcher that is still restoring the marker. */
SSW_API ssw_status ssw_settle_leftover_marker_within(const char* marker_path,
                                                     uint32_t wait_for_watcher_ms, char* message,
                                                     size_t message_size);

/* Like ssw_settle_leftover_marker_within, waiting at most `wait_for_shell_ms` (never more than a
 * minute) for the shell to put up the windows the marker records (10 s in the calls above); a
 * shell that does not appear fails with SSW_FAILED and a message that says so, logged once for
 * the process. */
SSW_API ssw_status ssw_settle_leftover_marker_waiting(const char* marker_path,
                                                      uint32_t wait_for_watcher_ms,
                                                      uint32_t wait_for_shell_ms, char* message,
                                                      size_t message_size);

/* A protected run, for its clean exit; owned by the caller until ssw_end_protection. */
typedef struct ssw_protection ssw_protection;

/* Everything the start needs: makes the marker path full, claims the items on this desktop
 * (SSW_LEFT_TO_LIVE_RUN, nothing written or changed, while another run protects one of them),
 * settles a marker left behind, makes a new session, records the items once the shell shows them
 * (waiting at most 10 s; see ssw_protect_desktop_within), writes the marker where
 * none is and starts the watchdog (`watchdog_executable` NULL: beside this program). A failure
 * after the marker was written removes it again. On SSW_OK, *protection is the caller's; until
 * it ends, the run counts as alive to every other instance. */
SSW_API ssw_status ssw_protect_desktop(const char* marker_path, unsigned items,
                                       const char* watchdog_executable, ssw_protection** protection,
                                       char* message, size_t message_size);

/* Like ssw_protect_desktop (which waits at most 10 s for the shell's windows), waiting at most
 * `wait_for_shell_ms` (never more than a minute) for the shell to put up the windows of the items
 * named, and for those a marker left behind records. */
SSW_API ssw_status ssw_protect_desktop_within(const char* marker_path, unsigned items,
                                              const char* watchdog_executable,
                                              uint32_t wait_for_shell_ms,
                                              ssw_protection** protection, char* message,
                                              size_t message_size);

/* The protected run's session id, as ssw_new_session_id writes one. */
SSW_API ssw_status ssw_protection_session_id(const ssw_protection* protection, char* session_id,
                                             size_t size);

/* The clean exit: restores the recorded items, then removes the marker and tells the watcher to
 * stand down (waiting at most 5 s for it). The marker stays when the restore failed.
 * `protection` is released in every case. */
SSW_API ssw_status ssw_end_protection(ssw_protection* protection, char* message,
                                      size_t message_size);

/* This library's version, "major.minor.patch", for an application's log of what it runs with:
 * a static text, valid for as long as the library is loaded; never free it. */
SSW_API const char* ssw_library_version(void);

#ifdef __cplusplus
}
#endif

#endif
