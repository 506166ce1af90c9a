#pragma once

// How the library's operations say what went wrong: one Error for every call.

#include <system_state_watchdog/client.hpp>

#include "win/utf.h"

#include <expected>
#include <string>
#include <string_view>

namespace watchdog::client {

inline std::unexpected<Error> fail(Code code, std::string message) {
    return std::unexpected(Error{code, std::move(message)});
}

// "<what failed><the path or program it was about>: <why>", so that a message read in a log far
// from the call still says which file or program it meant.
inline std::string about(std::string_view what, std::wstring_view subject, std::string_view why) {
    std::string text(what);
    text.append(utf16_to_utf8(subject));
    if (!why.empty()) {
        text.append(": ").append(why);
    }
    return text;
}

// "<message> (<path>)", for a message made elsewhere (a restore run's, which is also a log line).
inline std::string naming(std::string_view message, std::wstring_view subject) {
    return std::string(message) + " (" + utf16_to_utf8(subject) + ")";
}

// A session id that a call can act on: non-empty (no run can be told apart by nothing) and
// well-formed UTF-8 (a marker must hold it as JSON text, and the watchdog's command line as
// UTF-16).
std::expected<void, Error> check_session_id(std::string_view session_id);

} // namespace watchdog::client
