#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/kept_runs.h"
#include "client/left_marker.h"
#include "client/library_pin.h"
#include "client/marker_file.h"
#include "client/messages.h"
#include "log/recovery_log.h"
#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "win/path.h"

#include <chrono>

namespace watchdog::client {
namespace {

std::unexpected<Error> file_failure(std::string_view what, std::wstring_view path,
                                    std::string_view why) {
    return fail(Code::failed, about(what, path, why));
}

// The marker the bytes hold, unless they are not of this library's making: nothing to keep in
// force then, the watchdog would not act on them anyway.
std::optional<RecoveryMarker> marker_of(std::string_view bytes) {
    auto marker = parse_recovery_marker(bytes);
    if (!marker || marker->sessionId.empty()) {
        return std::nullopt;
    }
    return std::move(*marker);
}

} // namespace

std::expected<std::wstring, Error> full_marker_path(std::wstring_view marker_path) {
    auto full = full_path(marker_path);
    if (!full) {
        return fail(Code::invalid_argument, about(marker_path_invalid_prefix, marker_path, {}));
    }
    return std::move(*full);
}

SessionKey key_of(std::wstring_view marker_path, std::string_view session_id) {
    return {marker_identity(marker_path), std::string(session_id)};
}

std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes,
                                          MarkerWrite write) {
    const auto written = write_marker_file(marker_path, bytes, write);
    if (!written) {
        return file_failure(write_failed_prefix, marker_path, written.error());
    }
    if (*written == Written::another_marker_there) {
        return fail(Code::marker_unsettled, about(marker_unsettled_prefix, marker_path, {}));
    }
    return {};
}

std::expected<void, Error> write_marker_file(std::wstring_view marker_path,
                                             std::string_view bytes) {
    // In force before the marker is there: no moment in which a second instance could take the
    // marker for a dead run's, or another protection take its items.
    const auto marker = marker_of(bytes);
    std::optional<SessionKey> newly_kept;
    if (marker) {
        const SessionKey key = key_of(marker_path, marker->sessionId);
        const auto kept = keep_run(key, *marker);
        if (!kept) {
            return std::unexpected(kept.error());
        }
        if (*kept) {
            newly_kept = key;
        }
    }
    // A run's first marker, or bytes of no run: never moved over another marker.
    auto replaced = replace_marker(
        marker_path, bytes, marker && !newly_kept ? MarkerWrite::rewrite : MarkerWrite::first);
    if (!replaced && newly_kept) {
        static_cast<void>(take_kept_run(*newly_kept));
    }
    return replaced;
}

std::expected<void, Error> write_marker(std::wstring_view marker_path,
                                        const RecoveryMarker& marker) {
    // The reader takes well-formed UTF-8 only: a marker the watchdog cannot read protects nothing.
    if (const auto checked = check_session_id(marker.sessionId); !checked) {
        return checked;
    }
    return write_marker_file(marker_path, serialize_marker(marker));
}

std::string serialize_marker(const RecoveryMarker& marker, MarkerForm form) {
    return watchdog::serialize_marker(marker, form == MarkerForm::array ? MarkerLayout::array
                                                                        : MarkerLayout::object);
}

std::expected<void, Error> restore_desktop(const RecoveryMarker& recorded) {
    pin_client_library();
    BoundedWorker worker;
    const ItemOutcomes outcomes = restore_recorded_items(recorded, worker);
    if (!outcomes.failures.empty()) {
        return fail(Code::failed, join_failures(outcomes.failures));
    }
    return {};
}

std::expected<Finished, Error> delete_session_marker(std::wstring_view marker_path,
                                                     std::string_view session_id) {
    BoundedWorker worker;
    const auto deletion = delete_marker_file(
        worker, marker_path, [session = std::string(session_id)](std::string_view bytes) {
            const auto marker = parse_recovery_marker(bytes);
            return marker && marker->sessionId == session;
        });
    if (!deletion) {
        return file_failure(delete_failed_prefix, marker_path, deletion.error());
    }
    switch (*deletion) {
    case MarkerDeletion::deleted:
        return Finished::marker_removed;
    case MarkerDeletion::kept:
        return Finished::marker_of_another_session;
    case MarkerDeletion::absent:
        break;
    }
    return Finished::no_marker;
}

std::expected<Finished, Error> finish_cleanly(std::wstring_view marker_path,
                                              std::string_view session_id) {
    if (const auto checked = check_session_id(session_id); !checked) {
        return std::unexpected(checked.error());
    }
    const auto finished = delete_session_marker(marker_path, session_id);
    // A marker that could not be removed keeps the run in force: its hold stays.
    if (finished) {
        const SessionKey key = key_of(marker_path, session_id);
        end_run(key, take_kept_run(key));
    }
    return finished;
}

std::expected<Discarded, Error> discard_leftover_marker(std::wstring_view marker_path) {
    BoundedWorker worker;
    const auto read = read_left_marker(worker, marker_path);
    if (!read) {
        return std::unexpected(read.error());
    }
    if (!*read) {
        return Discarded::no_marker;
    }
    const SessionMarker& left = **read;
    const std::string& session_id = left.marker.sessionId;
    const auto lock =
        take_over(marker_path, {left.identity, session_id}, std::chrono::milliseconds(0));
    if (!lock) {
        return std::unexpected(lock.error());
    }
    const auto deletion = delete_marker_file(
        worker, marker_path, [bytes = left.bytes](std::string_view now) { return now == bytes; });
    if (!deletion) {
        return file_failure(delete_failed_prefix, marker_path, deletion.error());
    }
    if (*deletion != MarkerDeletion::deleted) {
        return Discarded::no_marker; // it went, or another run's marker took its place
    }
    append_recovery_log(marker_path, client_log_tag,
                        std::string(discarded_message) +
                            (session_id.empty() ? "" : ": " + session_id));
    return Discarded::discarded;
}

} // namespace watchdog::client
