#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/left_marker.h"
#include "client/library_pin.h"
#include "client/marker_file.h"
#include "client/messages.h"
#include "client/run_hold.h"
#include "client/session.h"
#include "log/recovery_log.h"
#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "win/error_text.h"
#include "win/file_write.h"
#include "win/files.h"
#include "win/path.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <windows.h>

#include <chrono>

namespace watchdog::client {
namespace {

// A watcher holds the marker without write or delete sharing only while it compares and
// deletes it: moments. Half a second of tries outlasts that by far.
constexpr int move_attempts = 20;
constexpr DWORD move_retry_pause_ms = 25;

std::unexpected<Error> file_failure(std::string_view what, std::wstring_view path,
                                    Win32Failure failure) {
    return fail(Code::failed, about(what, path, file_error_text(failure)));
}

std::expected<void, Win32Failure> write_and_flush(const std::wstring& path,
                                                  std::string_view bytes) {
    const auto file = handle_or_failure(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::unexpected(file.error());
    }
    return write_durably(file->get(), bytes);
}

std::expected<void, Win32Failure> move_into_place(const std::wstring& from, const std::wstring& to,
                                                  MarkerWrite write) {
    if (write == MarkerWrite::first) {
        // Without MOVEFILE_REPLACE_EXISTING the move fails where a marker is: two starts that
        // race for one path give one protection, not two that both think their marker is there.
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        return std::unexpected(last_win32_failure());
    }
    Win32Failure failure;
    for (int attempt = 0; attempt < move_attempts; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        failure = last_win32_failure();
        // A marker that another process holds open cannot be replaced: the system says so with
        // a sharing violation or, when the holder may delete it, with access denied.
        if (failure.code != ERROR_SHARING_VIOLATION && failure.code != ERROR_ACCESS_DENIED) {
            break;
        }
        Sleep(move_retry_pause_ms);
    }
    return std::unexpected(failure);
}

bool marker_in_the_way(Win32Failure failure) {
    return failure.code == ERROR_ALREADY_EXISTS || failure.code == ERROR_FILE_EXISTS;
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

std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes,
                                          MarkerWrite write) {
    // The application's folder for the marker may not exist yet on its first run.
    if (const auto folder = parent_directory(marker_path); folder && !folder->empty()) {
        if (const auto created = create_directory_tree(file_system_path(*folder)); !created) {
            return file_failure(write_failed_prefix, marker_path, created.error());
        }
    }
    const std::wstring target = file_system_path(marker_path);
    const std::wstring temporary =
        file_system_path(std::wstring(marker_path) + L"." + *utf8_to_utf16(random_hex()) + L".tmp");
    if (const auto written = write_and_flush(temporary, bytes); !written) {
        DeleteFileW(temporary.c_str());
        return file_failure(write_failed_prefix, marker_path, written.error());
    }
    if (const auto moved = move_into_place(temporary, target, write); !moved) {
        DeleteFileW(temporary.c_str());
        if (marker_in_the_way(moved.error())) {
            return fail(Code::marker_unsettled, about(marker_unsettled_prefix, marker_path, {}));
        }
        return file_failure(write_failed_prefix, marker_path, moved.error());
    }
    return {};
}

std::expected<void, Error> write_marker_file(std::wstring_view marker_path,
                                             std::string_view bytes) {
    // In force before the marker is there: no moment in which a second instance could take the
    // marker for a dead run's, or another protection take its items.
    const auto marker = marker_of(bytes);
    bool newly_kept = false;
    if (marker) {
        const auto kept = keep_run(marker_path, *marker);
        if (!kept) {
            return std::unexpected(kept.error());
        }
        newly_kept = *kept;
    }
    // A run's first marker, or bytes of no run: never moved over another marker.
    auto replaced = replace_marker(
        marker_path, bytes, marker && !newly_kept ? MarkerWrite::rewrite : MarkerWrite::first);
    if (!replaced && newly_kept) {
        static_cast<void>(take_kept_run(session_key(marker_path, marker->sessionId)));
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
    return watchdog::serialize_marker(marker, form == MarkerForm::array
                                                  ? watchdog::MarkerForm::array
                                                  : watchdog::MarkerForm::object);
}

std::expected<void, Error> restore_desktop(const RecoveryMarker& recorded) {
    pin_client_library();
    const ItemOutcomes outcomes = restore_recorded_items(recorded);
    if (!outcomes.failures.empty()) {
        return fail(Code::failed, join_failures(outcomes.failures));
    }
    return {};
}

std::expected<Finished, Error> delete_session_marker(std::wstring_view marker_path,
                                                     std::string_view session_id) {
    const auto deletion =
        delete_file_if(file_system_path(marker_path), [session_id](std::string_view bytes) {
            const auto marker = parse_recovery_marker(bytes);
            return marker && marker->sessionId == session_id;
        });
    if (!deletion) {
        return file_failure(delete_failed_prefix, marker_path, deletion.error());
    }
    switch (*deletion) {
    case ConditionalDeletion::deleted:
        return Finished::marker_removed;
    case ConditionalDeletion::kept:
        return Finished::marker_of_another_session;
    case ConditionalDeletion::absent:
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
        const SessionKey key = session_key(marker_path, session_id);
        end_run(key, take_kept_run(key));
    }
    return finished;
}

std::expected<Discarded, Error> discard_leftover_marker(std::wstring_view marker_path) {
    const std::wstring path = file_system_path(marker_path);
    const auto read = read_left_marker(path);
    if (!read) {
        return fail(Code::failed, naming(read.error(), marker_path));
    }
    if (!*read) {
        return Discarded::no_marker;
    }
    const LeftMarker& left = **read;
    const auto lock = take_over(marker_path, left.session_id, std::chrono::milliseconds(0));
    if (!lock) {
        return std::unexpected(lock.error());
    }
    const auto deletion =
        delete_file_if(path, [&left](std::string_view bytes) { return bytes == left.bytes; });
    if (!deletion) {
        return file_failure(delete_failed_prefix, marker_path, deletion.error());
    }
    if (*deletion != ConditionalDeletion::deleted) {
        return Discarded::no_marker; // it went, or another run's marker took its place
    }
    append_recovery_log(marker_path, client_log_tag,
                        std::string(discarded_message) +
                            (left.session_id.empty() ? "" : ": " + left.session_id));
    return Discarded::discarded;
}

} // namespace watchdog::client
