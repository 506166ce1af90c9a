// A protection is the separate steps in their order, with the clean-up they leave to the caller:
// a protection that fails leaves no marker behind, for a marker without a watcher would make the
// next start "restore" a desktop that was never changed.

#include <system_state_watchdog/client.hpp>

#include "client/kept_runs.h"
#include "client/launch.h"
#include "client/marker_file.h"
#include "marker/marker_writer.h"

#include <utility>

namespace watchdog::client {
namespace {

// A marker left behind that is gone, settled or never there: the start may go on.
bool settled_or_absent(const std::expected<void, Error>& settled) {
    return settled || settled.error().code == Code::no_marker;
}

} // namespace

Protection::Protection(Protection&& other) noexcept {
    *this = std::move(other);
}

Protection& Protection::operator=(Protection&& other) noexcept {
    if (this != &other) {
        marker_path_ = std::exchange(other.marker_path_, {});
        session_id_ = std::exchange(other.session_id_, {});
        hold_ = std::move(other.hold_);
    }
    return *this;
}

Protection::~Protection() = default;

std::expected<Protection, Error> protect_desktop(std::wstring_view marker_path, Items items,
                                                 std::wstring_view watchdog_executable,
                                                 std::chrono::milliseconds wait_for_shell) {
    // Once, here: the application's current folder may change (file dialogs change it) before
    // the protection ends, and a second instance must find the same marker.
    const auto full = full_marker_path(marker_path);
    if (!full) {
        return std::unexpected(full.error());
    }
    const auto executable = watchdog_executable.empty() ? watchdog_beside_this_program()
                                                        : full_watchdog_path(watchdog_executable);
    if (!executable) {
        return std::unexpected(executable.error());
    }
    Protection protection;
    protection.marker_path_ = *full;
    protection.session_id_ = new_session_id();
    // Claimed before anything is recorded or written: a refused protection changes nothing.
    const SessionKey key = key_of(*full, protection.session_id_);
    auto hold = hold_new_protection(key, items);
    if (!hold && hold.error().code == Code::left_to_live_run && leftover_run_alive(*full)) {
        // The watcher of this marker's previous run may be restoring it still, its items held
        // until it is done: waited for as a settle waits, then asked once more. Another run's
        // protection elsewhere is refused at once, and nothing is settled for it.
        if (settled_or_absent(
                settle_leftover_marker(*full, default_watcher_wait, wait_for_shell))) {
            hold = hold_new_protection(key, items);
        }
    }
    if (!hold) {
        return std::unexpected(hold.error());
    }
    protection.hold_ = std::move(*hold);
    if (const auto settled = settle_leftover_marker(*full, default_watcher_wait, wait_for_shell);
        !settled_or_absent(settled)) {
        return std::unexpected(settled.error());
    }
    auto recorded = record_desktop(*full, items, protection.session_id_, wait_for_shell);
    if (!recorded) {
        return std::unexpected(recorded.error());
    }
    protection.hold_->recorded = std::move((*recorded)->marker);
    const std::string bytes = serialize_marker(protection.hold_->recorded, MarkerForm::object);
    if (const auto written = replace_marker(*full, bytes, MarkerWrite::first); !written) {
        return std::unexpected(written.error());
    }
    if (const auto started = start_watchdog(*executable, protection.session_id_, *full); !started) {
        // A launcher that did not end was ended, and may have started a watcher first: that one
        // is asked to stand down as any watcher is. Only this run's marker goes; the outcome is
        // the launch's, whatever the removal says.
        protection.hold_->watcher_started = started.error().code == Code::launcher_failed &&
                                            started.error().launcher_exit_code == 0;
        if (delete_session_marker(*full, protection.session_id_)) {
            end_run(key, std::move(protection.hold_));
        }
        return std::unexpected(started.error());
    }
    protection.hold_->watcher_started = true;
    return protection;
}

} // namespace watchdog::client
