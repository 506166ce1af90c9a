#include "run_objects.h"

#include "marker_file/marker_file.h"

#include <sddl.h>

namespace watchdog::testing {

SessionKey run_key(const std::wstring& marker_path, std::string_view session_id) {
    return {marker_identity(marker_path), std::string(session_id)};
}

std::wstring run_object_name(std::wstring_view kind, const SessionKey& key) {
    return session_object_name(kind, key).value();
}

UniqueHandle event_nobody_may_open(const std::wstring& name) {
    for (const wchar_t* descriptor : {L"O:LSD:", L"D:"}) {
        UniqueLocalMemory<void> nobody;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                  nobody.put(), nullptr)) {
            continue;
        }
        SECURITY_ATTRIBUTES no_access{sizeof(no_access), nobody.get(), FALSE};
        UniqueHandle event(CreateEventW(&no_access, TRUE, FALSE, name.c_str()));
        if (event) {
            return event;
        }
    }
    return {};
}

} // namespace watchdog::testing
