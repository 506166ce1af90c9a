#pragma once

// The main application's half of the system state watchdog: record the desktop, write the
// recovery marker safely, start the watchdog, and deal with a marker that a previous run left
// behind. The order matters, and is:
//
//   at start:  settle_leftover_marker, new_session_id, record_desktop, write_marker,
//              start_watchdog, and only then change the desktop;
//   clean exit: restore_desktop (or put the desktop back your own way), finish_cleanly.
//
// Paths are native wide strings; texts are UTF-8. Failures come back as values with a message;
// nothing is thrown for them. No Windows header is needed to use this one.

#include "marker/records.h"

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog::client {

// The items a marker records.
enum class Items : std::uint32_t {
    taskbar = 1,       // the taskbar windows' extended styles and layered attributes, app-bar state
    desktop_icons = 2, // whether the desktop icons are visible
    both = 3,
};

// A session id that no other run has had. It names this process (its id and the time it
// started), so that a later run can tell whether the run that wrote a marker is still alive, and
// carries 64 random bits. Printable ASCII.
std::string new_session_id();

enum class RecordFailure {
    marker_unsettled,     // a marker is at the path: settle or discard it first
    desktop_not_recorded, // no item named, or the shell's windows could not be read
};

struct RecordError {
    RecordFailure failure = RecordFailure::desktop_not_recorded;
    std::string message;
};

// The state of the named items now, as a marker records them, for the session `session_id`.
// Refuses while a marker is at `marker_path`: a marker that was not settled may record a desktop
// that was never put back, and recording now would take the broken desktop for the original.
std::expected<RecoveryMarker, RecordError> record_desktop(std::wstring_view marker_path,
                                                          Items items, std::string_view session_id);

enum class MarkerForm {
    object, // {"version":1,"sessionId":...}, keys in declared order, absent items left out
    array,  // [1,"...",null,null]: every field by position, absent items as null
};

// The marker as UTF-8 JSON, made from the same field declaration the watchdog reads it by.
std::string serialize_marker(const RecoveryMarker& marker, MarkerForm form = MarkerForm::object);

// Writes the marker in object form, as write_marker_file does.
std::expected<void, std::string> write_marker(std::wstring_view marker_path,
                                              const RecoveryMarker& marker);

// Writes `bytes` as the marker (creating its folder if need be): into a temporary file in the
// same folder, flushed, then moved over the marker in one step, so that the path never holds
// half a marker. A marker held open elsewhere for a moment (a watcher making sure it deletes
// only the marker it read) is tried again for half a second. On failure an earlier marker at the
// path is as it was, and no temporary file is left behind.
std::expected<void, std::string> write_marker_file(std::wstring_view marker_path,
                                                   std::string_view bytes);

// The watchdog beside the running program: system-state-watchdog.exe in its executable's folder.
std::wstring watchdog_beside_this_program();

enum class LaunchFailure {
    usage_error = 2,                 // the launcher's exit code 2
    executable_path_unavailable = 3, // 3
    watcher_not_created = 4,         // 4: nothing protects this run
    launcher_not_created,            // the launcher itself could not be started
    launcher_did_not_end,            // the launcher was still running after half a minute
    unexpected_exit_code,            // any other exit code of the launcher
};

struct LaunchError {
    LaunchFailure failure = LaunchFailure::launcher_not_created;
    std::uint32_t exit_code = 0; // the launcher's, where it ended
    std::string message;
};

struct WatchdogStarted {
    std::uint32_t launcher_process_id = 0; // the launcher has ended; the watcher is its child
};

// Starts the watchdog for this process: `--bootstrap <this process id> <session id> <marker
// path>`, quoted by the rules the watchdog splits its command line by, with no handle inherited
// and no busy cursor, and waits for the launcher, which ends at once.
std::expected<WatchdogStarted, LaunchError> start_watchdog(std::wstring_view watchdog_executable,
                                                           std::string_view session_id,
                                                           std::wstring_view marker_path);

// Puts back in this process what `recorded` holds, by the same restore the watchdog makes: for
// a clean exit, before finish_cleanly.
std::expected<void, std::string> restore_desktop(const RecoveryMarker& recorded);

enum class Finished {
    marker_removed,
    no_marker,
    marker_of_another_session, // left as it is
};

// Removes the marker after a clean exit, but only while it still holds this run's session.
std::expected<Finished, std::string> finish_cleanly(std::wstring_view marker_path,
                                                    std::string_view session_id);

enum class Settled {
    no_marker,        // nothing was left behind
    restored,         // the marker's items are back and the marker is gone
    left_to_live_run, // the run that wrote it, or a watcher restoring it, is still at work
    failed,           // the restore failed (see the message and the log); the marker stays
};

struct SettleOutcome {
    Settled settled = Settled::no_marker;
    std::string message;
};

// At start: a marker at `marker_path` is restored by the same restore run the watchdog runs,
// here in this process, with the marker's own session id, and the same log lines are written.
// A marker whose run is still alive (a second instance of the application, or a watcher still
// restoring, which is waited for at most `wait_for_watcher`) is left alone.
SettleOutcome settle_leftover_marker(
    std::wstring_view marker_path,
    std::chrono::milliseconds wait_for_watcher = std::chrono::milliseconds(10000));

enum class Discarded {
    discarded,
    no_marker,
    left_to_live_run, // the run that wrote it, or a watcher restoring it, is still at work
};

// Deletes a marker that cannot be settled (unreadable, another version, a shell that never
// answers), by the caller's explicit choice, and logs that it did. A live run's marker is left.
std::expected<Discarded, std::string> discard_leftover_marker(std::wstring_view marker_path);

} // namespace watchdog::client
