#pragma once

// The library's own calls into the shell. A start at logon may come before the shell has put up
// its taskbar and its desktop: the library, the application's own half, waits for them within a
// bound (the watcher never does).

#include <chrono>
#include <expected>
#include <string>

namespace watchdog::client {

// Waits until the shell shows its primary taskbar (when `taskbar`) and its desktop icon view (when
// `icons`), looking every 100 ms, for at most `wait` (never more than a minute). Otherwise a
// message naming what did not appear, in this library's words.
std::expected<void, std::string> wait_for_shell(bool taskbar, bool icons,
                                                std::chrono::milliseconds wait);

// Keeps the module that holds the client library loaded until the process ends. A shell call
// that did not answer in time stays out on its worker thread after the library's call has
// returned; a host that unloaded the DLL then would leave that thread in code that is gone.
// Linked into an executable, the pin is on the executable, which changes nothing.
void pin_client_library() noexcept;

} // namespace watchdog::client
