#pragma once

namespace watchdog::client {

// Keeps the module that holds the client library loaded until the process ends. A shell call
// that did not answer in time stays out on its worker thread after the library's call has
// returned; a host that unloaded the DLL then would leave that thread in code that is gone.
// Linked into an executable, the pin is on the executable, which changes nothing.
void pin_client_library() noexcept;

} // namespace watchdog::client
