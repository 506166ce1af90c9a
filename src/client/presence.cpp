#include "client/presence.h"

#include "client/errors.h"
#include "client/messages.h"
#include "session/session_presence.h"
#include "win/error_text.h"

#include <map>
#include <mutex>
#include <string>

namespace watchdog::client {
namespace {

struct KeptSessions {
    std::mutex guard;
    std::map<std::string, PresenceHold, std::less<>> holds;
};

KeptSessions& kept_sessions() {
    static KeptSessions kept;
    return kept;
}

} // namespace

void PresenceRelease::operator()(Presence* presence) const noexcept {
    delete presence;
}

std::expected<PresenceHold, Error> hold_presence(std::string_view session_id) {
    auto event = hold_session_presence(session_id);
    if (!event) {
        return fail(Code::failed,
                    std::string(presence_failed_prefix) + windows_error_text(event.error()));
    }
    return PresenceHold(new Presence{std::move(*event)});
}

std::expected<bool, Error> keep_present(std::string_view session_id) {
    KeptSessions& kept = kept_sessions();
    const std::lock_guard lock(kept.guard);
    if (kept.holds.contains(session_id)) {
        return false;
    }
    auto hold = hold_presence(session_id);
    if (!hold) {
        return std::unexpected(hold.error());
    }
    kept.holds.emplace(std::string(session_id), std::move(*hold));
    return true;
}

void stop_keeping_present(std::string_view session_id) {
    KeptSessions& kept = kept_sessions();
    const std::lock_guard lock(kept.guard);
    if (const auto found = kept.holds.find(session_id); found != kept.holds.end()) {
        kept.holds.erase(found);
    }
}

} // namespace watchdog::client
