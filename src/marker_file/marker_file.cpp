#include "marker_file/marker_file.h"

#include "marker/recovery_marker.h"
#include "win/error_text.h"
#include "win/file_write.h"
#include "win/files.h"
#include "win/path.h"

#include <windows.h>

#include <memory>

namespace watchdog {
namespace {

constexpr DWORD share_everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A watcher holds the marker without write or delete sharing only while it compares and
// deletes it: moments. Half a second of tries outlasts that by far.
constexpr int rewrite_attempts = 20;
constexpr DWORD rewrite_retry_pause_ms = 25;

bool is_not_found(Win32Failure failure) {
    return failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND;
}

// The folder the marker is in, held, and the marker's name in it.
struct MarkerPlace {
    HeldFolder folder;
    std::wstring name;
    std::wstring full_path;
};

std::expected<MarkerPlace, Win32Failure> place_of(std::wstring_view path, bool create_folder,
                                                  const LinkTrust& trust) {
    auto full = full_path(path);
    if (!full) {
        return std::unexpected(full.error());
    }
    const auto parent = parent_directory(*full);
    if (!parent || parent->empty()) {
        return std::unexpected(Win32Failure{ERROR_INVALID_NAME});
    }
    auto folder = hold_folder(*parent, create_folder, trust);
    if (!folder) {
        return std::unexpected(folder.error());
    }
    std::wstring name = full->substr(full->find_first_not_of(L"\\/", parent->size()));
    return MarkerPlace{std::move(*folder), std::move(name), std::move(*full)};
}

std::string failure_text(Win32Failure failure) {
    return failure.code == untrusted_link_code ? std::string(untrusted_link_message)
                                               : file_error_text(failure);
}

// A marker is its own only as the one name of a plain file.
bool is_own_marker(const OpenedFile& file) {
    return !is_link(file) && file.links <= 1;
}

std::wstring identity_of(const MarkerPlace& place, const OpenedFile* file) {
    if (place.folder.final_path.empty()) {
        return comparable_path(place.full_path);
    }
    std::wstring name = place.name;
    if (file != nullptr && !file->final_path.empty()) {
        name = file->final_path.substr(file->final_path.find_last_of(L'\\') + 1);
    }
    return comparable_path(join_path(place.folder.final_path, name));
}

SessionMarker with_verdict(MarkerVerdict verdict, std::string failure) {
    SessionMarker found;
    found.verdict = verdict;
    found.failure = std::move(failure);
    return found;
}

// Where the marker cannot be read: a second look tells a missing marker from one that cannot be
// read now, and from one that is not its own.
SessionMarker unread(const MarkerPlace& place, Win32Failure read_failure, const LinkTrust& trust) {
    const auto probe =
        open_in(place.folder.handle.get(), place.name,
                {FILE_READ_ATTRIBUTES, share_everything, Disposition::existing, OpenKind::either});
    if (!probe) {
        return with_verdict(is_not_found(probe.error()) ? MarkerVerdict::absent
                                                        : MarkerVerdict::unknown,
                            failure_text(probe.error()));
    }
    const auto file = trust.inspect(probe->get());
    if (file && !is_own_marker(*file)) {
        return with_verdict(MarkerVerdict::unreadable,
                            std::string(read_failed_prefix) + std::string(marker_is_link_message));
    }
    return with_verdict(MarkerVerdict::unreadable,
                        std::string(read_failed_prefix) + failure_text(read_failure));
}

SessionMarker judged(SessionMarker found, std::optional<std::string_view> session) {
    auto parsed = parse_recovery_marker(found.bytes);
    if (!parsed) {
        found.verdict = MarkerVerdict::invalid;
        found.failure = std::string(parse_failed_prefix) + parsed.error();
        return found;
    }
    found.marker = std::move(*parsed);
    if (found.marker.version != 1) {
        found.verdict = MarkerVerdict::unsupported_version;
        found.failure =
            std::string(unsupported_version_prefix) + std::to_string(found.marker.version);
    } else {
        found.verdict = !session || found.marker.sessionId == *session
                            ? MarkerVerdict::this_session
                            : MarkerVerdict::other_session;
    }
    return found;
}

SessionMarker read_marker(std::wstring_view path, std::optional<std::string_view> session,
                          const LinkTrust& trust) {
    const auto place = place_of(path, false, trust);
    if (!place) {
        SessionMarker found = with_verdict(is_not_found(place.error()) ? MarkerVerdict::absent
                                                                       : MarkerVerdict::unknown,
                                           failure_text(place.error()));
        if (place.error().code == untrusted_link_code) {
            found.verdict = MarkerVerdict::unreadable;
            found.failure = std::string(read_failed_prefix) + found.failure;
        }
        found.identity = comparable_path(path);
        return found;
    }
    const auto file = open_in(place->folder.handle.get(), place->name,
                              {GENERIC_READ, share_everything, Disposition::existing});
    if (!file) {
        SessionMarker found = unread(*place, file.error(), trust);
        found.identity = identity_of(*place, nullptr);
        return found;
    }
    const auto opened = trust.inspect(file->get());
    if (opened && !is_own_marker(*opened)) {
        SessionMarker found =
            with_verdict(MarkerVerdict::unreadable,
                         std::string(read_failed_prefix) + std::string(marker_is_link_message));
        found.identity = identity_of(*place, nullptr);
        return found;
    }
    auto bytes = read_to_end(file->get());
    if (!bytes) {
        return with_verdict(MarkerVerdict::unreadable,
                            std::string(read_failed_prefix) + file_error_text(bytes.error()));
    }
    SessionMarker found;
    found.bytes = std::move(*bytes);
    found.identity = identity_of(*place, opened ? &*opened : nullptr);
    return judged(std::move(found), session);
}

std::expected<MarkerDeletion, std::string>
delete_marker(std::wstring_view path, const std::function<bool(std::string_view)>& still_ours,
              const LinkTrust& trust) {
    const auto place = place_of(path, false, trust);
    if (!place) {
        if (is_not_found(place.error())) {
            return MarkerDeletion::absent;
        }
        return std::unexpected(failure_text(place.error()));
    }
    // No write or delete sharing: nobody changes or replaces it between the comparison and the
    // deletion, which goes through this very handle.
    const auto file = open_in(place->folder.handle.get(), place->name,
                              {GENERIC_READ | DELETE, FILE_SHARE_READ, Disposition::existing});
    if (!file) {
        if (is_not_found(file.error())) {
            return MarkerDeletion::absent;
        }
        return std::unexpected(file_error_text(file.error()));
    }
    const auto opened = trust.inspect(file->get());
    if (!opened) {
        return std::unexpected(file_error_text(opened.error()));
    }
    if (!is_own_marker(*opened)) {
        return std::unexpected(std::string(marker_is_link_message));
    }
    const auto bytes = read_to_end(file->get());
    if (!bytes) {
        return std::unexpected(file_error_text(bytes.error()));
    }
    if (!still_ours(*bytes)) {
        return MarkerDeletion::kept;
    }
    if (const auto deleted = delete_open_file(file->get()); !deleted) {
        return std::unexpected(file_error_text(deleted.error()));
    }
    return MarkerDeletion::deleted;
}

// A file in the marker's folder that nobody else has: created new, under a name of this process
// and moment, another one tried where one of that name is there.
std::expected<UniqueHandle, Win32Failure> create_temporary(const MarkerPlace& place) {
    Win32Failure failure;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::wstring name =
            place.name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64() + static_cast<ULONGLONG>(attempt)) + L".tmp";
        // Deletion is shared with this process's own rename, which opens it for deletion.
        auto file = open_in(place.folder.handle.get(), name,
                            {GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, Disposition::create_new});
        if (file ||
            (file.error().code != ERROR_FILE_EXISTS && file.error().code != ERROR_ALREADY_EXISTS)) {
            return file;
        }
        failure = file.error();
    }
    return std::unexpected(failure);
}

std::expected<void, Win32Failure> move_into_place(HANDLE temporary, const MarkerPlace& place,
                                                  MarkerWrite write) {
    if (write == MarkerWrite::first) {
        // Never over a marker: two starts that race for one path give one protection, not two
        // that both think their marker is there.
        return rename_open_file(temporary, place.folder.handle.get(), place.name, false);
    }
    std::expected<void, Win32Failure> moved;
    for (int attempt = 0; attempt < rewrite_attempts; ++attempt) {
        moved = rename_open_file(temporary, place.folder.handle.get(), place.name, true);
        // A marker that another process holds open cannot be replaced: the system says so with
        // a sharing violation or, when the holder may delete it, with access denied.
        if (moved || (moved.error().code != ERROR_SHARING_VIOLATION &&
                      moved.error().code != ERROR_ACCESS_DENIED)) {
            break;
        }
        Sleep(rewrite_retry_pause_ms);
    }
    return moved;
}

// A marker that is there now and is not its own is never replaced.
bool replaces_a_stranger(const MarkerPlace& place, const LinkTrust& trust) {
    const auto present =
        open_in(place.folder.handle.get(), place.name,
                {FILE_READ_ATTRIBUTES, share_everything, Disposition::existing, OpenKind::either});
    if (!present) {
        return false;
    }
    const auto file = trust.inspect(present->get());
    return !file || !is_own_marker(*file);
}

template <typename Result>
std::optional<Result> on_worker(BoundedWorker& worker, HANDLE interrupt, Result stalled,
                                std::function<Result()> work) {
    auto result = std::make_shared<std::optional<Result>>();
    std::vector<std::function<void()>> calls;
    calls.emplace_back([result, work = std::move(work)] { *result = work(); });
    switch (run_bounded(worker, marker_file_wait, std::move(calls), interrupt)) {
    case BoundedRun::finished:
        return std::move(**result);
    case BoundedRun::timed_out:
        return stalled;
    case BoundedRun::interrupted:
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<SessionMarker> read_session_marker(BoundedWorker& worker, std::wstring_view path,
                                                 std::optional<std::string_view> session,
                                                 HANDLE interrupt, const LinkTrust& trust) {
    const std::optional<std::string> wanted(session);
    SessionMarker stalled =
        with_verdict(MarkerVerdict::unreadable,
                     std::string(read_failed_prefix) + std::string(marker_stalled_message));
    stalled.identity = comparable_path(path);
    return on_worker<SessionMarker>(
        worker, interrupt, std::move(stalled),
        [path = std::wstring(path), wanted, trust] { return read_marker(path, wanted, trust); });
}

std::expected<MarkerDeletion, std::string>
delete_marker_file(BoundedWorker& worker, std::wstring_view path,
                   std::function<bool(std::string_view)> still_ours, const LinkTrust& trust) {
    using Outcome = std::expected<MarkerDeletion, std::string>;
    return *on_worker<Outcome>(worker, nullptr,
                               std::unexpected(std::string(marker_stalled_message)),
                               [path = std::wstring(path), still_ours = std::move(still_ours),
                                trust] { return delete_marker(path, still_ours, trust); });
}

std::expected<Written, std::string> write_marker_file(std::wstring_view path,
                                                      std::string_view bytes, MarkerWrite write,
                                                      const LinkTrust& trust) {
    const auto place = place_of(path, true, trust);
    if (!place) {
        return std::unexpected(failure_text(place.error()));
    }
    if (write == MarkerWrite::rewrite && replaces_a_stranger(*place, trust)) {
        return std::unexpected(std::string(marker_is_link_message));
    }
    const auto temporary = create_temporary(*place);
    if (!temporary) {
        return std::unexpected(file_error_text(temporary.error()));
    }
    auto moved = write_durably(temporary->get(), bytes);
    if (moved) {
        moved = move_into_place(temporary->get(), *place, write);
    }
    if (!moved) {
        static_cast<void>(delete_open_file(temporary->get()));
        if (moved.error().code == ERROR_ALREADY_EXISTS || moved.error().code == ERROR_FILE_EXISTS) {
            return Written::another_marker_there;
        }
        return std::unexpected(file_error_text(moved.error()));
    }
    return Written::written;
}

std::wstring marker_identity(std::wstring_view path, const LinkTrust& trust) {
    const auto place = place_of(path, false, trust);
    if (place) {
        const auto file = open_in(
            place->folder.handle.get(), place->name,
            {FILE_READ_ATTRIBUTES, share_everything, Disposition::existing, OpenKind::either});
        const auto opened = file ? trust.inspect(file->get()) : std::unexpected(file.error());
        return identity_of(*place, opened ? &*opened : nullptr);
    }
    // A folder not made yet is named by the deepest one that is there and the names below it,
    // as the folder will be named once it is made.
    const std::wstring full = full_path(path).value_or(std::wstring(path));
    std::wstring folder = full;
    while (const auto parent = parent_directory(folder)) {
        if (parent->empty() || *parent == folder) {
            break;
        }
        folder = *parent;
        const auto held = hold_folder(folder, false, trust);
        if (held && !held->final_path.empty()) {
            return comparable_path(held->final_path + full.substr(folder.size()));
        }
        if (!held && !is_not_found(held.error())) {
            break;
        }
    }
    return comparable_path(full);
}

} // namespace watchdog
