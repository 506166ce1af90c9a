// The C API: every call converts its UTF-8 arguments, runs the C++ operation, and turns the
// outcome into a status and a message. Nothing thrown may cross into a caller that is C, C#,
// Rust or Go, so each call catches whatever its operation could let escape.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "client/messages.h"
#include "win/utf.h"

#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

struct ssw_recorded {
    watchdog::RecoveryMarker marker;
};

namespace {

namespace client = watchdog::client;

constexpr std::string_view unexpected_failure = "客户端库内部错误";
constexpr std::string_view invalid_argument = "参数为空或不是有效的 UTF-8";

// Copies as much of `text` as fits, never splitting a UTF-8 sequence, and terminates it.
void put_message(std::string_view text, char* message, std::size_t message_size) {
    if (message == nullptr || message_size == 0) {
        return;
    }
    std::size_t length = std::min(text.size(), message_size - 1);
    while (length > 0 && length < text.size() &&
           (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(message, text.data(), length);
    message[length] = '\0';
}

ssw_status report(ssw_status status, std::string_view text, char* message,
                  std::size_t message_size) {
    put_message(status == SSW_OK ? std::string_view() : text, message, message_size);
    return status;
}

std::optional<std::wstring> wide(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return watchdog::utf8_to_utf16(text);
}

// Runs `call`, which returns a status and sets `text`; anything thrown becomes SSW_FAILED.
template <typename Call> ssw_status guarded(char* message, std::size_t message_size, Call call) {
    std::string text;
    try {
        const ssw_status status = call(text);
        return report(status, text, message, message_size);
    } catch (...) {
        return report(SSW_FAILED, unexpected_failure, message, message_size);
    }
}

// A missing or malformed argument: said once for every call.
ssw_status refused(std::string& text) {
    text = invalid_argument;
    return SSW_INVALID_ARGUMENT;
}

template <typename T>
ssw_status from(const std::expected<T, std::string>& outcome, std::string& text) {
    if (!outcome) {
        text = outcome.error();
        return SSW_FAILED;
    }
    return SSW_OK;
}

} // namespace

extern "C" {

ssw_status ssw_new_session_id(char* session_id, size_t size) {
    return guarded(nullptr, 0, [&](std::string&) {
        const std::string id = client::new_session_id();
        if (session_id == nullptr || size <= id.size()) {
            return SSW_BUFFER_TOO_SMALL;
        }
        put_message(id, session_id, size);
        return SSW_OK;
    });
}

ssw_status ssw_record_desktop(const char* marker_path, unsigned items, const char* session_id,
                              ssw_recorded** recorded, char* message, size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        const bool named = (items & (SSW_ITEM_TASKBAR | SSW_ITEM_DESKTOP_ICONS)) != 0;
        if (!path || session_id == nullptr || recorded == nullptr || !named) {
            return refused(text);
        }
        auto marker = client::record_desktop(*path, static_cast<client::Items>(items), session_id);
        if (!marker) {
            text = marker.error().message;
            return marker.error().failure == client::RecordFailure::marker_unsettled
                       ? SSW_MARKER_UNSETTLED
                       : SSW_FAILED;
        }
        *recorded = new ssw_recorded{std::move(*marker)};
        return SSW_OK;
    });
}

void ssw_recorded_free(ssw_recorded* recorded) {
    delete recorded;
}

ssw_status ssw_write_marker(const char* marker_path, const ssw_recorded* recorded, char* message,
                            size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        if (!path || recorded == nullptr) {
            return refused(text);
        }
        return from(client::write_marker(*path, recorded->marker), text);
    });
}

ssw_status ssw_start_watchdog(const char* watchdog_executable, const char* session_id,
                              const char* marker_path, uint32_t* launcher_exit_code, char* message,
                              size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        const auto executable = watchdog_executable == nullptr
                                    ? std::optional(client::watchdog_beside_this_program())
                                    : wide(watchdog_executable);
        if (!path || !executable || session_id == nullptr) {
            return refused(text);
        }
        const auto started = client::start_watchdog(*executable, session_id, *path);
        if (launcher_exit_code != nullptr) {
            *launcher_exit_code = started ? 0 : started.error().exit_code;
        }
        if (started) {
            return SSW_OK;
        }
        text = started.error().message;
        return started.error().failure == client::LaunchFailure::launcher_not_created
                   ? SSW_LAUNCHER_NOT_STARTED
                   : SSW_LAUNCHER_FAILED;
    });
}

ssw_status ssw_restore_desktop(const ssw_recorded* recorded, char* message, size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        if (recorded == nullptr) {
            return refused(text);
        }
        return from(client::restore_desktop(recorded->marker), text);
    });
}

ssw_status ssw_finish_cleanly(const char* marker_path, const char* session_id, char* message,
                              size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        if (!path || session_id == nullptr) {
            return refused(text);
        }
        const auto finished = client::finish_cleanly(*path, session_id);
        if (!finished) {
            return from(finished, text);
        }
        switch (*finished) {
        case client::Finished::marker_removed:
            return SSW_OK;
        case client::Finished::no_marker:
            return SSW_NO_MARKER;
        case client::Finished::marker_of_another_session:
            break;
        }
        return SSW_OTHER_SESSION;
    });
}

ssw_status ssw_settle_leftover_marker(const char* marker_path, char* message, size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        if (!path) {
            return refused(text);
        }
        const client::SettleOutcome outcome = client::settle_leftover_marker(*path);
        text = outcome.message;
        switch (outcome.settled) {
        case client::Settled::restored:
            return SSW_OK;
        case client::Settled::no_marker:
            return SSW_NO_MARKER;
        case client::Settled::left_to_live_run:
            return SSW_LEFT_TO_LIVE_RUN;
        case client::Settled::failed:
            break;
        }
        return SSW_FAILED;
    });
}

ssw_status ssw_discard_leftover_marker(const char* marker_path, char* message,
                                       size_t message_size) {
    return guarded(message, message_size, [&](std::string& text) {
        const auto path = wide(marker_path);
        if (!path) {
            return refused(text);
        }
        const auto discarded = client::discard_leftover_marker(*path);
        if (!discarded) {
            return from(discarded, text);
        }
        switch (*discarded) {
        case client::Discarded::discarded:
            return SSW_OK;
        case client::Discarded::no_marker:
            return SSW_NO_MARKER;
        case client::Discarded::left_to_live_run:
            break;
        }
        text = client::live_run_message;
        return SSW_LEFT_TO_LIVE_RUN;
    });
}

} // extern "C"
