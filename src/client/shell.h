#pragma once

// The library's own calls into the shell. At logon the shell may not have put up its taskbar and
// desktop yet: the library waits for them within a bound (the watcher never does).

#include <chrono>
#include <expected>
#include <string>

namespace watchdog::client {

// Waits until the shell shows its primary taskbar (when `taskbar`) and its desktop icon view (when
// `icons`), looking every 100 ms, for at most `wait` (never more than a minute). Otherwise a
// message naming what did not appear, in this library's words.
std::expected<void, std::string> wait_for_shell(bool taskbar, bool icons,
                                                std::chrono::milliseconds wait);

// Keeps the module that holds the client library loaded until the process ends: a shell call that
// did not answer in time stays on its worker thread after the library's call has returned, and an
// unloaded DLL would leave that thread in code that is gone (in an executable, it changes nothing).
void pin_client_library() noexcept;

} // namespace watchdog::client
