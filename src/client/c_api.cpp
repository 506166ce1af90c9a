// The C API: every call converts its UTF-8 arguments, runs the C++ operation, and turns the
// outcome into a status and a message. Nothing thrown may cross into a caller that is C, C#,
// Rust or Go, so each call catches whatever its operation could let escape.

#include <system_state_watchdog/client.h>
#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "version.h"
#include "win/utf.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssw_recorded {
    watchdog::client::Recorded recorded;
};

struct ssw_protection {
    watchdog::client::Protection protection;
};

namespace {

namespace client = watchdog::client;
using client::Code;
using Outcome = std::expected<void, client::Error>;

// The C++ codes are the C statuses, one to one.
static_assert(static_cast<int>(Code::failed) == SSW_FAILED);
static_assert(static_cast<int>(Code::buffer_too_small) == SSW_BUFFER_TOO_SMALL);
static_assert(static_cast<int>(Code::invalid_argument) == SSW_INVALID_ARGUMENT);
static_assert(static_cast<int>(Code::marker_unsettled) == SSW_MARKER_UNSETTLED);
static_assert(static_cast<int>(Code::no_marker) == SSW_NO_MARKER);
static_assert(static_cast<int>(Code::left_to_live_run) == SSW_LEFT_TO_LIVE_RUN);
static_assert(static_cast<int>(Code::other_session) == SSW_OTHER_SESSION);
static_assert(static_cast<int>(Code::launcher_failed) == SSW_LAUNCHER_FAILED);
static_assert(static_cast<int>(Code::launcher_not_started) == SSW_LAUNCHER_NOT_STARTED);

// Copies as much of `text` as fits, never splitting a UTF-8 sequence, and terminates it.
void put_message(std::string_view text, char* message, std::size_t message_size) {
    if (message == nullptr || message_size == 0) {
        return;
    }
    const std::string_view kept = watchdog::utf8_prefix(text, message_size - 1);
    std::memcpy(message, kept.data(), kept.size());
    message[kept.size()] = '\0';
}

std::optional<std::wstring> wide(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return watchdog::utf8_to_utf16(text);
}

// Runs `call`, whose Error gives the status and the message; anything thrown becomes SSW_FAILED.
template <typename Call> ssw_status catching(char* message, std::size_t message_size, Call call) {
    try {
        const Outcome outcome = call();
        put_message(outcome ? std::string_view() : outcome.error().message, message, message_size);
        return outcome ? SSW_OK : static_cast<ssw_status>(outcome.error().code);
    } catch (...) {
        put_message("客户端库内部错误", message, message_size);
        return SSW_FAILED;
    }
}

// A missing or malformed argument: said once for every call.
std::unexpected<client::Error> refused() {
    return client::fail(Code::invalid_argument, "参数为空或不是有效的 UTF-8");
}

Outcome put_session_id(std::string_view id, char* session_id, size_t size) {
    if (session_id == nullptr) {
        return client::fail(Code::invalid_argument, {});
    }
    if (size <= id.size()) {
        return client::fail(Code::buffer_too_small, {});
    }
    put_message(id, session_id, size);
    return {};
}

} // namespace

// A literal: ssw_library_version hands out its data() as a terminated text that never goes away.
std::string_view watchdog::client::library_version() {
    return WATCHDOG_VERSION_TEXT;
}

extern "C" {

ssw_status ssw_new_session_id(char* session_id, size_t size) {
    return catching(nullptr, 0,
                    [&] { return put_session_id(client::new_session_id(), session_id, size); });
}

ssw_status ssw_record_desktop(const char* marker_path, unsigned items, const char* session_id,
                              ssw_recorded** recorded, char* message, size_t message_size) {
    return ssw_record_desktop_within(marker_path, items, session_id, 0, recorded, message,
                                     message_size);
}

ssw_status ssw_record_desktop_within(const char* marker_path, unsigned items,
                                     const char* session_id, uint32_t wait_for_shell_ms,
                                     ssw_recorded** recorded, char* message, size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        if (!path || session_id == nullptr || recorded == nullptr) {
            return refused();
        }
        auto marker = client::record_desktop(*path, static_cast<client::Items>(items), session_id,
                                             std::chrono::milliseconds(wait_for_shell_ms));
        if (!marker) {
            return std::unexpected(marker.error());
        }
        *recorded = new ssw_recorded{std::move(*marker)};
        return {};
    });
}

void ssw_recorded_free(ssw_recorded* recorded) {
    delete recorded;
}

ssw_status ssw_write_marker(const char* marker_path, const ssw_recorded* recorded, char* message,
                            size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        if (!path || recorded == nullptr) {
            return refused();
        }
        return client::write_marker(*path, recorded->recorded);
    });
}

ssw_status ssw_start_watchdog(const char* watchdog_executable, const char* session_id,
                              const char* marker_path, uint32_t* launcher_exit_code, char* message,
                              size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        const auto named = wide(watchdog_executable);
        if (!path || session_id == nullptr || (watchdog_executable != nullptr && !named)) {
            return refused();
        }
        const auto executable = named ? std::expected<std::wstring, client::Error>(*named)
                                      : client::watchdog_beside_this_program();
        if (!executable) {
            return std::unexpected(executable.error());
        }
        const auto started = client::start_watchdog(*executable, session_id, *path);
        if (launcher_exit_code != nullptr) {
            *launcher_exit_code = started ? 0 : started.error().launcher_exit_code;
        }
        return started;
    });
}

ssw_status ssw_restore_desktop(const ssw_recorded* recorded, char* message, size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        if (recorded == nullptr) {
            return refused();
        }
        return client::restore_desktop(recorded->recorded);
    });
}

ssw_status ssw_finish_cleanly(const char* marker_path, const char* session_id, char* message,
                              size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        if (!path || session_id == nullptr) {
            return refused();
        }
        return client::finish_cleanly(*path, session_id);
    });
}

ssw_status ssw_settle_leftover_marker(const char* marker_path, char* message, size_t message_size) {
    return ssw_settle_leftover_marker_within(
        marker_path, static_cast<uint32_t>(client::default_watcher_wait.count()), message,
        message_size);
}

ssw_status ssw_settle_leftover_marker_within(const char* marker_path, uint32_t wait_for_watcher_ms,
                                             char* message, size_t message_size) {
    return ssw_settle_leftover_marker_waiting(
        marker_path, wait_for_watcher_ms, static_cast<uint32_t>(client::default_shell_wait.count()),
        message, message_size);
}

ssw_status ssw_settle_leftover_marker_waiting(const char* marker_path, uint32_t wait_for_watcher_ms,
                                              uint32_t wait_for_shell_ms, char* message,
                                              size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        if (!path) {
            return refused();
        }
        return client::settle_leftover_marker(*path, std::chrono::milliseconds(wait_for_watcher_ms),
                                              std::chrono::milliseconds(wait_for_shell_ms));
    });
}

ssw_status ssw_discard_leftover_marker(const char* marker_path, char* message,
                                       size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        if (!path) {
            return refused();
        }
        return client::discard_leftover_marker(*path);
    });
}

ssw_status ssw_protect_desktop(const char* marker_path, unsigned items,
                               const char* watchdog_executable, ssw_protection** protection,
                               char* message, size_t message_size) {
    return ssw_protect_desktop_within(marker_path, items, watchdog_executable,
                                      static_cast<uint32_t>(client::default_shell_wait.count()),
                                      protection, message, message_size);
}

ssw_status ssw_protect_desktop_within(const char* marker_path, unsigned items,
                                      const char* watchdog_executable, uint32_t wait_for_shell_ms,
                                      ssw_protection** protection, char* message,
                                      size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        const auto path = wide(marker_path);
        const auto executable = watchdog_executable == nullptr ? std::optional(std::wstring())
                                                               : wide(watchdog_executable);
        if (!path || !executable || protection == nullptr) {
            return refused();
        }
        auto protected_run =
            client::protect_desktop(*path, static_cast<client::Items>(items), *executable,
                                    std::chrono::milliseconds(wait_for_shell_ms));
        if (!protected_run) {
            return std::unexpected(protected_run.error());
        }
        *protection = new ssw_protection{std::move(*protected_run)};
        return {};
    });
}

ssw_status ssw_protection_session_id(const ssw_protection* protection, char* session_id,
                                     size_t size) {
    return catching(nullptr, 0, [&]() -> Outcome {
        if (protection == nullptr) {
            return client::fail(Code::invalid_argument, {});
        }
        return put_session_id(protection->protection.session_id(), session_id, size);
    });
}

ssw_status ssw_end_protection(ssw_protection* protection, char* message, size_t message_size) {
    return catching(message, message_size, [&]() -> Outcome {
        if (protection == nullptr) {
            return refused();
        }
        // Released whatever the outcome: the caller has nothing left to do with it.
        auto owned = std::unique_ptr<ssw_protection>(protection);
        return client::end_protection(std::move(owned->protection));
    });
}

const char* ssw_library_version(void) {
    return client::library_version().data();
}

} // extern "C"
