#include <system_state_watchdog/client.hpp>

#include "client/left_marker.h"
#include "client/messages.h"
#include "client/session.h"
#include "log/recovery_log.h"
#include "marker/recovery_marker.h"
#include "restore/restore_run.h"
#include "restore/session_lock.h"
#include "win/error_text.h"
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

std::string failed(std::string_view prefix, DWORD error) {
    return std::string(prefix) + file_error_text(error);
}

std::expected<void, DWORD> write_and_flush(const std::wstring& path, std::string_view bytes) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::unexpected(GetLastError());
    }
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr)) {
            return std::unexpected(GetLastError());
        }
        bytes.remove_prefix(written);
    }
    if (!FlushFileBuffers(file.get())) {
        return std::unexpected(GetLastError());
    }
    return {};
}

std::expected<void, DWORD> move_over(const std::wstring& from, const std::wstring& to) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < move_attempts; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        error = GetLastError();
        // A marker that another process holds open cannot be replaced: the system says so with
        // a sharing violation or, when the holder may delete it, with access denied.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
            break;
        }
        Sleep(move_retry_pause_ms);
    }
    return std::unexpected(error);
}

} // namespace

std::expected<void, std::string> write_marker_file(std::wstring_view marker_path,
                                                   std::string_view bytes) {
    // The application's folder for the marker may not exist yet on its first run.
    if (const auto folder = parent_directory(marker_path); folder && !folder->empty()) {
        if (const std::uint32_t error = create_directory_tree(file_system_path(*folder))) {
            return std::unexpected(failed(write_failed_prefix, error));
        }
    }
    const std::wstring target = file_system_path(marker_path);
    const std::wstring temporary =
        file_system_path(std::wstring(marker_path) + L"." + *utf8_to_utf16(random_hex()) + L".tmp");
    if (const auto written = write_and_flush(temporary, bytes); !written) {
        DeleteFileW(temporary.c_str());
        return std::unexpected(failed(write_failed_prefix, written.error()));
    }
    if (const auto moved = move_over(temporary, target); !moved) {
        DeleteFileW(temporary.c_str());
        return std::unexpected(failed(write_failed_prefix, moved.error()));
    }
    return {};
}

std::expected<void, std::string> write_marker(std::wstring_view marker_path,
                                              const RecoveryMarker& marker) {
    // The reader takes well-formed UTF-8 only: a marker the watchdog cannot read protects nothing.
    if (!utf8_to_utf16(marker.sessionId)) {
        return std::unexpected(std::string(invalid_session_message));
    }
    return write_marker_file(marker_path, serialize_marker(marker));
}

std::expected<void, std::string> restore_desktop(const RecoveryMarker& recorded) {
    const ItemOutcomes outcomes = restore_recorded_items(recorded);
    if (!outcomes.failures.empty()) {
        return std::unexpected(join_failures(outcomes.failures));
    }
    return {};
}

std::expected<Finished, std::string> finish_cleanly(std::wstring_view marker_path,
                                                    std::string_view session_id) {
    const auto deletion =
        delete_file_if(file_system_path(marker_path), [session_id](std::string_view bytes) {
            const auto marker = parse_recovery_marker(bytes);
            return marker && marker->sessionId == session_id;
        });
    if (!deletion) {
        return std::unexpected(failed(delete_failed_prefix, deletion.error()));
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

std::expected<Discarded, std::string> discard_leftover_marker(std::wstring_view marker_path) {
    const std::wstring path = file_system_path(marker_path);
    const auto read = read_left_marker(path);
    if (!read) {
        return std::unexpected(read.error());
    }
    if (!*read) {
        return Discarded::no_marker;
    }
    const LeftMarker& left = **read;
    if (session_run_is_alive(left.session_id)) {
        return Discarded::left_to_live_run;
    }
    const SessionLock lock = lock_session(left.session_id, std::chrono::milliseconds(0));
    if (!lock.owned) {
        return Discarded::left_to_live_run;
    }
    const auto deletion =
        delete_file_if(path, [&left](std::string_view bytes) { return bytes == left.bytes; });
    if (!deletion) {
        return std::unexpected(failed(delete_failed_prefix, deletion.error()));
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
