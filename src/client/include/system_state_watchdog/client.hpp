#pragma once

// The main application's half of the system state watchdog: record the desktop, write the
// recovery marker safely, start the watchdog, and deal with a marker that a previous run left
// behind. Most applications need two calls:
//
//   at start:   protect_desktop, and only then change the desktop;
//   clean exit: end_protection.
//
// The steps apart, for applications that need them so, in this order:
//
//   at start:   settle_leftover_marker, new_session_id, record_desktop, write_marker,
//               start_watchdog, and only then change the desktop;
//   clean exit: restore_desktop (or put the desktop back your own way), finish_cleanly.
//
// Paths are native wide strings; texts are UTF-8. Every outcome but success comes back as an
// Error, whose code is the C API's status of the same number and meaning (no marker there, a
// marker of another session, among them); nothing is thrown for them. No Windows header is needed
// to use this one. docs/client-api.md describes every call.

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

namespace watchdog::client {

// Why a call did not succeed: the C API's ssw_status, number for number.
enum class Code : int {
    failed = 1,               // see the message
    invalid_argument = 2,     // an empty session id, text that is not UTF-8, no item named, a
                              // watchdog path that is not full
    marker_unsettled = 3,     // a marker is (or came to be) at the path: settle or discard it
    no_marker = 4,            // settle, finish, discard: nothing was at the path
    left_to_live_run = 5,     // the marker's run, or its watcher, is alive; or (protect) another
                              // run protects one of the items
    other_session = 6,        // finish: the marker holds another session; left as it is
    launcher_failed = 7,      // the launcher ended with an error, or did not end and was ended
    launcher_not_started = 8, // the launcher itself could not be started
    buffer_too_small = 9,     // (the C API's only: a caller's buffer for a session id)
};

struct Error {
    Code code = Code::failed;
    std::string message;                  // UTF-8; names the file or program the call worked on
    std::uint32_t launcher_exit_code = 0; // for launcher_failed: the launcher's, where it ended
};

// How long a start waits, by default, for the watcher of a previous run still restoring its
// marker, and for the shell to put up its windows (a start at logon may come before it has).
inline constexpr std::chrono::milliseconds default_watcher_wait{10000};
inline constexpr std::chrono::milliseconds default_shell_wait{10000};

// The items a marker records.
enum class Items : std::uint32_t {
    taskbar = 1,       // the taskbar windows' extended styles and layered attributes, app-bar state
    desktop_icons = 2, // whether the desktop icons are visible
    both = 3,
};

// A session id that no other run has had: this process's id, the time it started and 64
// random bits. Printable ASCII. Any other non-empty text serves as a session id as well.
std::string new_session_id();

// The desktop as record_desktop found it, for write_marker and restore_desktop; opaque.
struct RecordedState;
struct RecordedRelease {
    void operator()(RecordedState* recorded) const noexcept;
};
using Recorded = std::unique_ptr<RecordedState, RecordedRelease>;

// The state of the named items, as a marker records them, for the session `session_id`, once the
// shell shows them (waited for at most `wait_for_shell`, never more than a minute: "Windows
// 任务栏在 N 秒内未出现" or "Windows 桌面图标窗口在 N 秒内未出现" otherwise). The marker path is
// made full first. Refuses while a marker is at `marker_path`: a marker that was not settled may
// record a desktop that was never put back, and recording now would take the broken desktop for
// the original.
std::expected<Recorded, Error>
record_desktop(std::wstring_view marker_path, Items items, std::string_view session_id,
               std::chrono::milliseconds wait_for_shell = std::chrono::milliseconds(0));

// Writes the marker (creating its folder if need be) into a new file in the same folder, flushed,
// then renamed into place in one step: the path never holds half a marker. A run's first marker is
// moved only where no marker is (marker_unsettled otherwise); the run's own marker written again
// replaces it, and one held open elsewhere for a moment (a watcher making sure it deletes only the
// marker it read) is tried again for half a second. A failure leaves an earlier marker at the path
// as it was, and nothing of the new one. From here until finish_cleanly this process keeps the
// marker's session alive (a second instance leaves the marker alone) and its items protected.
std::expected<void, Error> write_marker(std::wstring_view marker_path, const Recorded& recorded);

// The watchdog beside the running program: system-state-watchdog.exe in its executable's folder,
// made from the executable's full path; failed when that cannot be read.
std::expected<std::wstring, Error> watchdog_beside_this_program();

// Starts the watchdog for this process: `--bootstrap <this process id> <session id> <marker's
// full path>`, quoted by the rules the watchdog splits its command line by, with no handle
// inherited and no busy cursor, and waits (at most half a minute) for the launcher, which ends
// at once; one that does not is ended. `watchdog_executable` must be a full path
// (invalid_argument otherwise): Windows would complete a relative one from the current folder.
std::expected<void, Error> start_watchdog(std::wstring_view watchdog_executable,
                                          std::string_view session_id,
                                          std::wstring_view marker_path);

// Puts back in this process what `recorded` holds, by the same restore the watchdog makes: for
// a clean exit, before finish_cleanly.
std::expected<void, Error> restore_desktop(const Recorded& recorded);

// Removes the marker after a clean exit, but only while it still holds this run's session
// (other_session, the marker left as it is, otherwise; no_marker when none is there), tells the
// watcher to stand down (waiting at most 5 s for one that this process started), and ends this
// process's part in keeping the session alive and its items protected.
std::expected<void, Error> finish_cleanly(std::wstring_view marker_path,
                                          std::string_view session_id);

// At start: a marker at `marker_path` is restored by the same restore run the watchdog runs,
// here in this process, with the marker's own session id, and the same log lines are written;
// no_marker when nothing was left behind. A marker whose run is still alive (a second instance
// of the application, or a watcher not done yet) is left alone: left_to_live_run. A watcher
// still restoring is waited for at most `wait_for_watcher`, and the shell's windows the marker
// records at most `wait_for_shell`, each never more than a minute (a shell that does not appear
// is logged once for the process). A failed restore keeps the marker: failed.
std::expected<void, Error>
settle_leftover_marker(std::wstring_view marker_path,
                       std::chrono::milliseconds wait_for_watcher = default_watcher_wait,
                       std::chrono::milliseconds wait_for_shell = default_shell_wait);

// Deletes a marker that cannot be settled (unreadable, another version, a shell that never
// answers), by the caller's explicit choice, and logs that it did; no_marker when none is there.
// A live run's marker is left: left_to_live_run.
std::expected<void, Error> discard_leftover_marker(std::wstring_view marker_path);

// What a protected run holds of its session and the desktop it recorded; opaque.
struct KeptRun;
struct KeptRunRelease {
    void operator()(KeptRun* run) const noexcept;
};

// A protected run: what its clean exit needs. For as long as it is in force, the run counts as
// alive to every other instance, whatever happens to the watcher, and no other protection of its
// items is made on this desktop. It can be moved, not copied; end_protection ends it once.
class Protection {
  public:
    // The protection moved from is left ended: its session id empty, its hold gone.
    Protection(Protection&& other) noexcept;
    Protection& operator=(Protection&& other) noexcept;
    ~Protection();

    // Empty once the protection has ended or was moved from.
    const std::string& session_id() const noexcept { return session_id_; }
    // The marker's full path, as it was when the protection began.
    const std::wstring& marker_path() const noexcept { return marker_path_; }

  private:
    Protection() = default;
    friend std::expected<Protection, Error>
    protect_desktop(std::wstring_view marker_path, Items items,
                    std::wstring_view watchdog_executable,
                    std::chrono::milliseconds wait_for_shell);
    friend std::expected<void, Error> end_protection(Protection protection);

    std::wstring marker_path_;
    std::string session_id_;
    std::unique_ptr<KeptRun, KeptRunRelease> hold_;
};

// Everything the start needs, in one call: takes the marker's full path, claims `items` on this
// desktop (refused with left_to_live_run, and nothing written or changed, while another
// protection of one of them is in force, in any process and with any marker path), settles a
// marker left behind (see settle_leftover_marker), makes a new session, records `items` once the
// shell shows them (waited for at most `wait_for_shell`; see record_desktop), writes
// the marker where none is (marker_unsettled when another start was quicker) and starts the
// watchdog (`watchdog_executable`, a full path, or watchdog_beside_this_program when empty; a
// relative path is refused with invalid_argument before anything is written). A failure after
// the marker was written removes it again: a failed protection leaves nothing behind.
std::expected<Protection, Error>
protect_desktop(std::wstring_view marker_path, Items items,
                std::wstring_view watchdog_executable = {},
                std::chrono::milliseconds wait_for_shell = default_shell_wait);

// The clean exit of a protected run: restores the recorded items, then finishes (the marker
// goes, the watcher stands down, the session is no longer kept alive). The marker stays when the
// restore failed, so that the watcher or the next start puts the desktop back. A protection that
// has ended already, or was moved from, is refused with invalid_argument and nothing is done.
std::expected<void, Error> end_protection(Protection protection);

// This library's version, "major.minor.patch" (the watchdog's and the package's as well), for
// an application's log of what it runs with.
std::string_view library_version();

} // namespace watchdog::client
