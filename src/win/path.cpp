#include "win/path.h"

#include <windows.h>

namespace watchdog {
namespace {

// Full paths at least this long go to file calls in the extended-length form (see path.h).
constexpr std::size_t classic_path_limit = 248;

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// A UNC path's "\\", or the start of a verbatim or device prefix.
bool starts_with_two_separators(std::wstring_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// "\\?\" (verbatim: no normalisation, no length limit) or "\\.\" (the device namespace).
bool has_verbatim_or_device_prefix(std::wstring_view path) {
    return path.size() >= 4 && starts_with_two_separators(path) &&
           (path[2] == L'?' || path[2] == L'.') && is_separator(path[3]);
}

bool is_drive(std::wstring_view path) {
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Index just past the next `count` components starting at `from`, with the separator that
// ends the last one.
std::size_t skip_components(std::wstring_view path, std::size_t from, int count) {
    std::size_t i = from;
    for (int taken = 0; taken < count && i < path.size(); ++taken) {
        const std::size_t separator = path.find_first_of(L"\\/", i);
        i = separator == std::wstring_view::npos ? path.size() : separator + 1;
    }
    return i;
}

std::size_t drive_root_length(std::wstring_view path, std::size_t from) {
    const std::wstring_view rest = path.substr(from);
    if (!is_drive(rest)) {
        return from;
    }
    return from + (rest.size() > 2 && is_separator(rest[2]) ? 3 : 2);
}

std::size_t trimmed_length(std::wstring_view path, std::size_t root) {
    std::size_t end = path.size();
    while (end > root && is_separator(path[end - 1])) {
        --end;
    }
    return end;
}

// The prefix \\?\ before a drive path, \\?\UNC in place of the two separators of a UNC path;
// a path that already has the \\?\ or the \\.\ (device) prefix stays as it is.
std::wstring extended_length_form(std::wstring_view full_path) {
    if (has_verbatim_or_device_prefix(full_path)) {
        return std::wstring(full_path);
    }
    if (starts_with_two_separators(full_path)) {
        return L"\\\\?\\UNC\\" + std::wstring(full_path.substr(2));
    }
    return L"\\\\?\\" + std::wstring(full_path);
}

// The path as its classic form would write it: \\?\C:\x as C:\x, \\?\UNC\server\share as
// \\server\share; without separators at its end.
std::wstring_view without_extended_prefix(std::wstring_view path, std::wstring& storage) {
    constexpr std::wstring_view unc_prefix = L"\\\\?\\UNC\\";
    constexpr std::wstring_view prefix = L"\\\\?\\";
    if (path.size() > unc_prefix.size() &&
        CompareStringOrdinal(path.data(), static_cast<int>(unc_prefix.size()), unc_prefix.data(),
                             static_cast<int>(unc_prefix.size()), TRUE) == CSTR_EQUAL) {
        storage = L"\\\\" + std::wstring(path.substr(unc_prefix.size()));
        path = storage;
    } else if (path.starts_with(prefix) && is_drive(path.substr(prefix.size()))) {
        path.remove_prefix(prefix.size());
    }
    return path.substr(0, trimmed_length(path, 0));
}

} // namespace

std::size_t path_root_length(std::wstring_view path) {
    if (has_verbatim_or_device_prefix(path)) {
        const std::wstring_view rest = path.substr(4);
        if (rest.size() >= 4 && (rest.substr(0, 3) == L"UNC" || rest.substr(0, 3) == L"unc") &&
            is_separator(rest[3])) {
            return skip_components(path, 8, 2);
        }
        const std::size_t drive_end = drive_root_length(path, 4);
        return drive_end != 4 ? drive_end : skip_components(path, 4, 1);
    }
    if (starts_with_two_separators(path)) {
        return skip_components(path, 2, 2);
    }
    if (is_drive(path)) {
        return drive_root_length(path, 0);
    }
    return !path.empty() && is_separator(path[0]) ? 1 : 0;
}

bool is_full_path(std::wstring_view path) {
    return starts_with_two_separators(path) ||
           (is_drive(path) && path.size() > 2 && is_separator(path[2]));
}

std::optional<std::wstring> parent_directory(std::wstring_view path) {
    const std::size_t root = path_root_length(path);
    const std::size_t end = trimmed_length(path, root);
    if (end <= root) {
        return std::nullopt;
    }
    std::size_t last = end;
    while (last > root && !is_separator(path[last - 1])) {
        --last;
    }
    return std::wstring(path.substr(0, trimmed_length(path.substr(0, last), root)));
}

std::wstring join_path(std::wstring_view base, std::wstring_view name) {
    std::wstring joined(base);
    const bool needs_separator = !joined.empty() && !is_separator(joined.back()) &&
                                 !(joined.size() == 2 && is_drive(joined));
    if (needs_separator) {
        joined.push_back(L'\\');
    }
    joined.append(name);
    return joined;
}

std::expected<std::wstring, Win32Failure> full_path(std::wstring_view path) {
    const std::wstring given(path);
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::unexpected(last_win32_failure());
    }
    std::wstring text(needed, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), needed, text.data(), nullptr);
    if (length == 0) {
        return std::unexpected(last_win32_failure());
    }
    // The current folder, or a folder on the way, changed between the two calls.
    if (length >= needed) {
        return std::unexpected(Win32Failure{ERROR_INSUFFICIENT_BUFFER});
    }
    text.resize(length);
    return text;
}

std::wstring file_system_path(std::wstring_view path) {
    const std::wstring given(path);
    if (has_verbatim_or_device_prefix(given)) {
        return given;
    }
    // A path whose full form cannot be had goes as it is: the file call then says what is wrong.
    const auto full = full_path(given);
    return !full || full->size() < classic_path_limit ? given : extended_length_form(*full);
}

std::wstring comparable_path(std::wstring_view path) {
    const std::wstring full = full_path(path).value_or(std::wstring(path));
    std::wstring storage;
    const std::wstring_view plain = without_extended_prefix(full, storage);
    if (plain.empty()) {
        return {};
    }
    // The invariant locale's upper case, as the file system folds names: never the user's
    // language's, which would fold the same name differently for another user.
    std::wstring upper(plain.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, plain.data(),
                      static_cast<int>(plain.size()), upper.data(), static_cast<int>(upper.size()),
                      nullptr, nullptr, 0) == 0) {
        return std::wstring(plain);
    }
    return upper;
}

bool names_same_place(std::wstring_view final_path, std::wstring_view path) {
    std::wstring final_storage;
    std::wstring path_storage;
    const std::wstring_view a = without_extended_prefix(final_path, final_storage);
    const std::wstring_view b = without_extended_prefix(path, path_storage);
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace watchdog
