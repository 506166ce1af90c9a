#include "run_objects.h"

#include "marker_file/marker_file.h"

namespace watchdog::testing {

SessionKey run_key(const std::wstring& marker_path, std::string_view session_id) {
    return {marker_identity(marker_path), std::string(session_id)};
}

std::wstring run_object_name(std::wstring_view kind, const SessionKey& key) {
    return session_object_name(kind, key).value();
}

} // namespace watchdog::testing
