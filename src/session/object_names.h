#pragma once

// The names of the kernel objects through which a run's processes see each other, and what a name
// tells of its holder. A named object lives exactly while some process holds a handle to it, so a
// crash or a kill ends the hold with the process. The names live in a private namespace bounded by
// the user and the medium integrity level: no process of another user or of lower integrity (a
// sandboxed one) can create or open them, yet an elevated run and an unelevated instance of the
// same user meet there. Without private namespaces (Wine), they live in `Local\` instead.

#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <windows.h>

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// Which run a session's objects belong to: its marker and its session id together. Two
// applications that chose the same session id for different markers are two runs and never
// meet; every name of one marker gives the same marker text (see marker_file.h's identity).
struct SessionKey {
    std::wstring marker;
    std::string session_id;

    auto operator<=>(const SessionKey&) const = default;
};

// `value` as 16 upper-case hexadecimal digits.
std::string hex16(std::uint64_t value);

// The name of the run's object of `kind`, an FNV-1a hash standing in for the key (a path and a
// session id may hold any character); the failure when the namespace cannot be made or opened.
std::expected<std::wstring, Win32Failure> session_object_name(std::wstring_view kind,
                                                              const SessionKey& key);

// The name of an object of the given kind for the calling thread's desktop, no run's.
std::expected<std::wstring, Win32Failure> desktop_object_name(std::wstring_view kind);

enum class NameHolder {
    nobody,                // the name is free (or was, and this process holds it now)
    a_run,                 // a run holds it
    a_run_of_other_rights, // a run this process may not open holds it (an elevated one, say)
    another_object,        // an object of another kind has the name: nobody can tell
    unknown,               // the system would not say
};

struct NameState {
    NameHolder holder = NameHolder::unknown;
    Win32Failure failure{}; // the failure that told it, where one did
};

// What a failure to open or create a named object says of whoever holds the name. Only "not
// found" proves that nobody holds it.
NameState name_state_after(Win32Failure failure);

struct CreatedEvent {
    UniqueHandle handle;
    bool existed = false; // somebody held it already
};

// The named manual-reset event, created or, when it exists, opened: a run's presence, its items'
// guards and its end request are all such events.
std::expected<CreatedEvent, NameState> create_named_event(const std::wstring& name);

// kernel32's private namespace calls, looked up where it has them: Wine 8 exports only the first.
struct NamespaceCalls {
    decltype(&CreateBoundaryDescriptorW) create_boundary = nullptr;
    decltype(&AddSIDToBoundaryDescriptor) add_sid = nullptr;
    decltype(&AddIntegrityLabelToBoundaryDescriptor) add_label = nullptr;
    decltype(&DeleteBoundaryDescriptor) delete_boundary = nullptr;
    decltype(&CreatePrivateNamespaceW) create = nullptr;
    decltype(&OpenPrivateNamespaceW) open = nullptr;
};

NamespaceCalls system_namespace_calls();

// The prefix of every name: the private namespace, created or (another process of the user having
// it) opened, the pair tried again when it vanished in between, kept open for the process's life;
// `Local\` where the platform gives no boundary descriptor; else the failure of the refusing call.
std::expected<std::wstring, Win32Failure> object_namespace(const NamespaceCalls& calls);

} // namespace watchdog
