#include "win/held_folder.h"

#include "win/path.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

struct OpenedFolder {
    UniqueHandle handle;
    OpenedFile file;
};

std::expected<OpenedFolder, Win32Failure>
inspected(std::expected<UniqueHandle, Win32Failure> opened, const LinkTrust& trust) {
    if (!opened) {
        return std::unexpected(opened.error());
    }
    auto file = trust.inspect(opened->get());
    if (!file) {
        return std::unexpected(file.error());
    }
    return OpenedFolder{std::move(*opened), std::move(*file)};
}

std::expected<HeldFolder, Win32Failure> as_held(std::expected<OpenedFolder, Win32Failure> opened) {
    if (!opened) {
        return std::unexpected(opened.error());
    }
    return HeldFolder{std::move(opened->handle), std::move(opened->file.final_path)};
}

// `name` inside the held `folder`: a link there followed only when `trust` allows it.
std::expected<HeldFolder, Win32Failure> step_into(const HeldFolder& folder,
                                                  const std::wstring& name, Disposition disposition,
                                                  const LinkTrust& trust) {
    auto found = inspected(
        open_in(folder.handle.get(), name, {.disposition = disposition, .kind = OpenKind::folder}),
        trust);
    if (!found || !is_link(found->file)) {
        return as_held(std::move(found));
    }
    if (trust.elevated && !found->file.made_by_administrator) {
        return std::unexpected(Win32Failure{untrusted_link_code});
    }
    return as_held(inspected(
        open_in(folder.handle.get(), name, {.kind = OpenKind::folder, .follow_link = true}),
        trust));
}

std::expected<OpenedFolder, Win32Failure> open_by_name(const std::wstring& path, DWORD flags,
                                                       const LinkTrust& trust) {
    auto opened = inspected(
        handle_or_failure(CreateFileW(file_system_path(path).c_str(),
                                      FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr)),
        trust);
    // A file of the folder's name is no folder, however it was opened.
    if (opened && (opened->file.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::unexpected(Win32Failure{ERROR_DIRECTORY});
    }
    return opened;
}

// An existing folder. Opened by its name, and taken as it is when no link is on the way: it is no
// link itself and its final path is the path. Otherwise, for an elevated process, reached from its
// root (a drive or a share, which the process's own device map names) one name at a time.
std::expected<HeldFolder, Win32Failure> reach(const std::wstring& path, const LinkTrust& trust) {
    if (!trust.elevated) {
        return as_held(open_by_name(path, 0, trust));
    }
    auto direct = open_by_name(path, FILE_FLAG_OPEN_REPARSE_POINT, trust);
    if (direct && !is_link(direct->file) && names_same_place(direct->file.final_path, path)) {
        return as_held(std::move(direct));
    }
    const std::size_t root = path_root_length(path);
    auto folder = as_held(open_by_name(path.substr(0, root), 0, trust));
    for (std::size_t start = root; folder && start < path.size();) {
        const std::size_t end = std::min(path.find_first_of(L"\\/", start), path.size());
        if (end > start) {
            folder =
                step_into(*folder, path.substr(start, end - start), Disposition::existing, trust);
        }
        start = end + 1;
    }
    return folder;
}

} // namespace

LinkTrust this_process_trust() {
    static const bool elevated = [] {
        UniqueHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
            return true; // unknown rights: the careful rule
        }
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        return !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation,
                                    &size) ||
               elevation.TokenIsElevated != 0;
    }();
    return LinkTrust{.elevated = elevated};
}

std::expected<HeldFolder, Win32Failure> hold_folder(std::wstring_view path, bool create_missing,
                                                    const LinkTrust& trust) {
    const auto full = full_path(path);
    if (!full) {
        return std::unexpected(full.error());
    }
    std::wstring existing = *full;
    std::vector<std::wstring> missing; // below `existing`, the deepest first
    while (GetFileAttributesW(file_system_path(existing).c_str()) == INVALID_FILE_ATTRIBUTES) {
        const Win32Failure absent = last_win32_failure();
        const auto parent = parent_directory(existing);
        if (!create_missing || !parent || parent->empty() || *parent == existing) {
            return std::unexpected(absent);
        }
        missing.push_back(existing.substr(existing.find_first_not_of(L"\\/", parent->size())));
        existing = *parent;
    }
    auto folder = reach(existing, trust);
    for (auto name = missing.rbegin(); folder && name != missing.rend(); ++name) {
        folder = step_into(*folder, *name, Disposition::open_or_create, trust);
    }
    return folder;
}

void refuse_untrusted_junctions() {
    if (!this_process_trust().elevated) {
        return;
    }
    // PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY, which not every SDK's headers declare.
    constexpr auto redirection_trust_policy = static_cast<PROCESS_MITIGATION_POLICY>(16);
    DWORD enforce = 0x1; // EnforceRedirectionTrust
    SetProcessMitigationPolicy(redirection_trust_policy, &enforce, sizeof enforce);
}

} // namespace watchdog
