#include "session/object_names.h"

#include "win/desktop_identity.h"
#include "win/unique_resource.h"
#include "win/utf.h"

#include <sddl.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

namespace watchdog {
namespace {

constexpr std::wstring_view namespace_alias = L"SystemStateWatchdog";
constexpr std::wstring_view local_namespace = L"Local\\";
constexpr std::wstring_view object_prefix = L"SystemStateWatchdog-";
// Tries of the pair create-or-open while the namespace keeps vanishing in between.
constexpr int namespace_attempts = 3;

std::wstring fnv1a_hex(std::string_view bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    return *utf8_to_utf16(hex16(hash));
}

struct BoundaryOwner {
    HANDLE handle = nullptr;
    decltype(&DeleteBoundaryDescriptor) remove = nullptr;

    BoundaryOwner(HANDLE owned, decltype(&DeleteBoundaryDescriptor) release)
        : handle(owned), remove(release) {}
    BoundaryOwner(const BoundaryOwner&) = delete;
    BoundaryOwner& operator=(const BoundaryOwner&) = delete;
    ~BoundaryOwner() { remove(handle); }
};

// The process token's TOKEN_USER, which holds the user's SID.
std::expected<std::vector<std::byte>, Win32Failure> token_user() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::unexpected(last_win32_failure());
    }
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<std::byte> user(size);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        return std::unexpected(last_win32_failure());
    }
    return user;
}

// Only the user may open the namespace, and nothing below medium integrity may read or write in
// it (NR, NW), so a sandboxed process of the same user cannot reach the objects either.
std::expected<UniqueLocalMemory<void>, Win32Failure> namespace_security(PSID user) {
    UniqueLocalMemory<wchar_t> text;
    if (!ConvertSidToStringSidW(user, text.put())) {
        return std::unexpected(last_win32_failure());
    }
    const std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(text.get()) + L")S:(ML;;NWNR;;;ME)";
    UniqueLocalMemory<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        return std::unexpected(last_win32_failure());
    }
    return descriptor;
}

// Its handle is never closed: this process may hold an object in the namespace until it ends.
std::expected<void, Win32Failure> create_or_open(const NamespaceCalls& calls, HANDLE boundary,
                                                 SECURITY_ATTRIBUTES& security) {
    Win32Failure failure;
    for (int attempt = 0; attempt < namespace_attempts; ++attempt) {
        if (calls.create(&security, boundary, namespace_alias.data()) != nullptr) {
            return {};
        }
        failure = last_win32_failure();
        if (failure.code != ERROR_ALREADY_EXISTS) {
            return std::unexpected(failure);
        }
        if (calls.open(boundary, namespace_alias.data()) != nullptr) {
            return {};
        }
        failure = last_win32_failure();
        if (failure.code != ERROR_PATH_NOT_FOUND && failure.code != ERROR_FILE_NOT_FOUND) {
            return std::unexpected(failure);
        }
    }
    return std::unexpected(failure);
}

std::expected<std::wstring, Win32Failure> object_name(std::wstring_view kind,
                                                      std::string_view text) {
    static std::mutex mutex;
    static std::optional<std::wstring> prefix;
    const std::lock_guard lock(mutex);
    if (!prefix) {
        auto made = object_namespace(system_namespace_calls());
        if (!made) {
            return made;
        }
        prefix = std::move(*made);
    }
    return *prefix + std::wstring(object_prefix) + std::wstring(kind) + L"-" + fnv1a_hex(text);
}

} // namespace

std::string hex16(std::uint64_t value) {
    char text[17] = {};
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

NameState name_state_after(Win32Failure failure) {
    switch (failure.code) {
    case ERROR_FILE_NOT_FOUND:
        return {NameHolder::nobody, failure};
    case ERROR_ACCESS_DENIED:
        return {NameHolder::a_run_of_other_rights, failure};
    case ERROR_INVALID_HANDLE:
        return {NameHolder::another_object, failure};
    default:
        return {NameHolder::unknown, failure};
    }
}

std::expected<CreatedEvent, NameState> create_named_event(const std::wstring& name) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    // Read at once, on success too: ERROR_ALREADY_EXISTS then tells an existing event.
    const DWORD last_error = GetLastError();
    if (event == nullptr) {
        return std::unexpected(name_state_after(win32_failure(last_error)));
    }
    return CreatedEvent{UniqueHandle(event), last_error == ERROR_ALREADY_EXISTS};
}

std::expected<std::wstring, Win32Failure> session_object_name(std::wstring_view kind,
                                                              const SessionKey& key) {
    // The zero cannot occur in a path: no two keys run together into the same text.
    return object_name(kind, utf16_to_utf8(key.marker) + '\0' + key.session_id);
}

std::expected<std::wstring, Win32Failure> desktop_object_name(std::wstring_view kind) {
    // A desktop that cannot be named still gets its objects, ones that all such desktops share.
    return object_name(kind, utf16_to_utf8(current_desktop_identity().value_or(L"")));
}

NamespaceCalls system_namespace_calls() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto find = [kernel32]<typename Function>(Function& function, const char* name) {
        function = reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
    };
    NamespaceCalls calls;
    find(calls.create_boundary, "CreateBoundaryDescriptorW");
    find(calls.add_sid, "AddSIDToBoundaryDescriptor");
    find(calls.add_label, "AddIntegrityLabelToBoundaryDescriptor");
    find(calls.delete_boundary, "DeleteBoundaryDescriptor");
    find(calls.create, "CreatePrivateNamespaceW");
    find(calls.open, "OpenPrivateNamespaceW");
    return calls;
}

std::expected<std::wstring, Win32Failure> object_namespace(const NamespaceCalls& calls) {
    const bool complete = calls.create_boundary && calls.add_sid && calls.add_label &&
                          calls.delete_boundary && calls.create && calls.open;
    const HANDLE created = complete ? calls.create_boundary(namespace_alias.data(), 0) : nullptr;
    if (created == nullptr) {
        return std::wstring(local_namespace); // the platform has no private namespaces
    }
    BoundaryOwner boundary{created, calls.delete_boundary};
    const auto user = token_user();
    if (!user) {
        return std::unexpected(user.error());
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid;
    std::byte medium[SECURITY_MAX_SID_SIZE];
    DWORD medium_size = sizeof medium;
    if (!CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &medium_size) ||
        !calls.add_sid(&boundary.handle, sid) || !calls.add_label(&boundary.handle, medium)) {
        return std::unexpected(last_win32_failure());
    }
    auto descriptor = namespace_security(sid);
    if (!descriptor) {
        return std::unexpected(descriptor.error());
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor->get(), FALSE};
    if (auto opened = create_or_open(calls, boundary.handle, security); !opened) {
        return std::unexpected(opened.error());
    }
    return std::wstring(namespace_alias) + L"\\";
}

} // namespace watchdog
