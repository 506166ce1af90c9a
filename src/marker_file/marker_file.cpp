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
// Whether anything of that name is there, whatever its kind.
constexpr OpenRequest probe_request{FILE_READ_ATTRIBUTES, share_everything, Disposition::existing,
                                    OpenKind::either};
// A watcher holds the marker without write or delete sharing only while it compares and
// deletes it: moments. Half a second of tries outlasts that by far.
constexpr int rewrite_attempts = 20;
constexpr DWORD rewrite_retry_pause_ms = 25;

// The failure of a marker that is no file of its writer's: a link, or a file with a second name.
constexpr std::uint32_t not_its_own_code = ERROR_BAD_FILE_TYPE;

bool is_not_found(Win32Failure failure) {
    return failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND;
}

std::string failure_text(Win32Failure failure) {
    switch (failure.code) {
    case untrusted_link_code:
        return std::string(untrusted_link_message);
    case not_its_own_code:
        return std::string(marker_is_link_message);
    default:
        return file_error_text(failure);
    }
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

struct OpenedMarker {
    UniqueHandle handle;
    OpenedFile file;
};

// The marker itself, opened through its folder, never through a link of its name: refused unless
// it is the one name of a plain file.
std::expected<OpenedMarker, Win32Failure>
open_marker(const MarkerPlace& place, const OpenRequest& request, const LinkTrust& trust) {
    auto handle = open_in(place.folder.handle.get(), place.name, request);
    if (!handle) {
        return std::unexpected(handle.error());
    }
    auto file = trust.inspect(handle->get());
    if (!file) {
        return std::unexpected(file.error());
    }
    if (is_link(*file) || file->links > 1) {
        return std::unexpected(Win32Failure{not_its_own_code});
    }
    return OpenedMarker{std::move(*handle), std::move(*file)};
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

// Only "not found" is no marker. A marker refused, or that cannot be read, is unreadable; one
// whose attributes cannot even be had, unknown.
MarkerVerdict verdict_after(Win32Failure failure) {
    if (is_not_found(failure)) {
        return MarkerVerdict::absent;
    }
    const bool refused = failure.code == untrusted_link_code || failure.code == not_its_own_code;
    return refused ? MarkerVerdict::unreadable : MarkerVerdict::unknown;
}

SessionMarker read_marker(std::wstring_view path, std::optional<std::string_view> session,
                          const LinkTrust& trust) {
    SessionMarker found;
    found.identity = comparable_path(path);
    const auto failed = [&found](MarkerVerdict verdict, Win32Failure failure) {
        found.verdict = verdict;
        found.failure = std::string(read_failed_prefix) + failure_text(failure);
        return found;
    };
    const auto place = place_of(path, false, trust);
    if (!place) {
        return failed(verdict_after(place.error()), place.error());
    }
    found.identity = identity_of(*place, nullptr);
    const auto opened =
        open_marker(*place, {GENERIC_READ, share_everything, Disposition::existing}, trust);
    if (!opened) {
        // A second look tells a missing marker from one that cannot be read now.
        const auto probe = open_marker(*place, probe_request, trust);
        return probe ? failed(MarkerVerdict::unreadable, opened.error())
                     : failed(verdict_after(probe.error()), probe.error());
    }
    auto bytes = read_to_end(opened->handle.get());
    if (!bytes) {
        return failed(MarkerVerdict::unreadable, bytes.error());
    }
    found.bytes = std::move(*bytes);
    found.identity = identity_of(*place, &opened->file);
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

std::expected<MarkerDeletion, std::string>
delete_marker(std::wstring_view path, const std::function<bool(std::string_view)>& still_ours,
              const LinkTrust& trust) {
    const auto place = place_of(path, false, trust);
    // No write or delete sharing: nobody changes or replaces it between the comparison and the
    // deletion, which goes through this very handle.
    const auto opened =
        place ? open_marker(*place, {GENERIC_READ | DELETE, FILE_SHARE_READ, Disposition::existing},
                            trust)
              : std::unexpected(place.error());
    if (!opened) {
        if (is_not_found(opened.error())) {
            return MarkerDeletion::absent;
        }
        return std::unexpected(failure_text(opened.error()));
    }
    const auto bytes = read_to_end(opened->handle.get());
    if (!bytes) {
        return std::unexpected(file_error_text(bytes.error()));
    }
    if (!still_ours(*bytes)) {
        return MarkerDeletion::kept;
    }
    if (const auto deleted = delete_open_file(opened->handle.get()); !deleted) {
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

template <typename Result>
std::optional<Result> on_worker(BoundedWorker& worker, HANDLE interrupt, Result stalled,
                                std::function<Result()> work) {
    auto result = std::make_shared<std::optional<Result>>();
    std::vector<std::function<void()>> calls;
    calls.emplace_back([result, work = std::move(work)] { *result = work(); });
    const BoundedRun run = run_bounded(worker, marker_file_wait, std::move(calls), interrupt);
    if (run == BoundedRun::interrupted) {
        return std::nullopt;
    }
    return run == BoundedRun::finished ? std::move(**result) : std::move(stalled);
}

} // namespace

std::optional<SessionMarker> read_session_marker(BoundedWorker& worker, std::wstring_view path,
                                                 std::optional<std::string_view> session,
                                                 HANDLE interrupt, const LinkTrust& trust) {
    const std::optional<std::string> wanted(session);
    SessionMarker stalled{.verdict = MarkerVerdict::unreadable,
                          .failure = std::string(read_failed_prefix).append(marker_stalled_message),
                          .identity = comparable_path(path)};
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
    // A marker that is there now and is not its own is never replaced.
    if (const auto present = open_marker(*place, probe_request, trust);
        write == MarkerWrite::rewrite && !present && !is_not_found(present.error())) {
        return std::unexpected(failure_text(present.error()));
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
        const auto opened = open_marker(*place, probe_request, trust);
        return identity_of(*place, opened ? &opened->file : nullptr);
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
