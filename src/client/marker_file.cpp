#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/kept_runs.h"
#include "client/marker_file.h"
#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"
#include "win/path.h"

namespace watchdog::client {

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
        return fail(Code::failed, about(write_failed_prefix, marker_path, written.error()));
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
    const auto marker = parse_recovery_marker(bytes);
    // Bytes that are no marker of this library's making keep nothing in force: the watchdog
    // would not act on them anyway.
    const bool of_a_run = marker && !marker->sessionId.empty();
    std::optional<SessionKey> newly_kept;
    if (of_a_run) {
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
        marker_path, bytes, of_a_run && !newly_kept ? MarkerWrite::rewrite : MarkerWrite::first);
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
    return write_marker_file(marker_path, serialize_marker(marker, MarkerForm::object));
}

std::expected<void, Error> write_marker(std::wstring_view marker_path, const Recorded& recorded) {
    if (!recorded) {
        return fail(Code::invalid_argument, std::string(nothing_recorded_message));
    }
    return write_marker(marker_path, recorded->marker);
}

void RecordedRelease::operator()(RecordedState* recorded) const noexcept {
    delete recorded;
}

std::expected<MarkerDeletion, Error> delete_session_marker(std::wstring_view marker_path,
                                                           std::string_view session_id) {
    BoundedWorker worker;
    const auto deletion = delete_marker_file(
        worker, marker_path, [session = std::string(session_id)](std::string_view bytes) {
            const auto marker = parse_recovery_marker(bytes);
            return marker && marker->sessionId == session;
        });
    if (!deletion) {
        return fail(Code::failed, about(delete_failed_prefix, marker_path, deletion.error()));
    }
    return *deletion;
}

} // namespace watchdog::client
