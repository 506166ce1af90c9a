#pragma once

// The stand-in shell's taskbars: real top-level windows of the shell's taskbar classes, and an
// observer of the app-bar messages, all recording what is done to them. The functions that
// create windows must run on a thread that pumps messages (a ShellThread, or the main thread
// of a stand-in shell process); the windows then belong to that thread.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace watchdog::testing {

// Colour key, alpha and flags as SetLayeredWindowAttributes takes them.
struct LayeredAttributes {
    COLORREF color = 0;
    BYTE alpha = 0;
    DWORD flags = 0;

    bool operator==(const LayeredAttributes&) const = default;
};

// One app-bar call as the shell received it (SHAppBarMessage reaches the shell as WM_COPYDATA).
struct AppBarCall {
    ULONG_PTR message = 0;    // the ABM_ value
    DWORD data_size = 0;      // size of the data that came with it
    bool decoded = false;     // false when the data had a layout this fixture does not know
    std::int64_t window = 0;  // APPBARDATA.hWnd, as a handle value
    std::uint64_t lparam = 0; // APPBARDATA.lParam
    // Where Wine 8 wants the answer: a file mapping's handle in the caller's process, whose first
    // eight bytes receive the call's result.
    std::uint32_t return_map = 0;
    std::uint32_t return_process = 0;
};

enum class ShellEventKind {
    ex_style_changing,   // WM_STYLECHANGING for GWL_EXSTYLE
    ex_style_changed,    // WM_STYLECHANGED for GWL_EXSTYLE
    window_pos_changing, // WM_WINDOWPOSCHANGING
    show_window,         // WM_SHOWWINDOW
    app_bar_message,     // WM_COPYDATA to the app-bar observer
};

struct ShellEvent {
    ShellEventKind kind = ShellEventKind::ex_style_changing;
    HWND window = nullptr; // the window that received the message
    DWORD old_ex_style = 0;
    DWORD new_ex_style = 0;
    UINT window_pos_flags = 0;
    bool shown = false;
    // The receiving window's layered attributes when the message arrived; empty when the
    // window had none. This is how the order of SetLayeredWindowAttributes calls, which send
    // no message, shows in the log.
    std::optional<LayeredAttributes> layered;
    AppBarCall app_bar;
};

// Everything the stand-in shell's windows received, in order. Written on the thread that owns
// the windows, read by anyone.
struct ShellEventLog {
    std::mutex mutex;
    std::vector<ShellEvent> events;
    // Run on the owning thread after each event is logged, so that a test can make the shell
    // react (for example destroy a window) at an exact point of the product's work.
    std::function<void(const ShellEvent&)> reaction;
    // The shell's app-bar state: what ABM_GETSTATE answers and ABM_SETSTATE sets. "Always on
    // top", the shell's usual setting, to begin with.
    std::atomic<std::uint32_t> appbar_state{2};
};

std::vector<ShellEvent> shell_events(ShellEventLog& log);
void clear_shell_events(ShellEventLog& log);
void set_shell_reaction(ShellEventLog& log, std::function<void(const ShellEvent&)> reaction);

enum class TaskbarKind { primary, secondary };

struct TaskbarWindowSetup {
    TaskbarKind kind = TaskbarKind::primary;
    DWORD ex_style = WS_EX_TOOLWINDOW;
    std::optional<LayeredAttributes> layered; // set after creation; needs WS_EX_LAYERED
    HWND parent = nullptr;                    // non-null makes a child window, not a taskbar
    bool visible = false;
};

// A window of class Shell_TrayWnd or Shell_SecondaryTrayWnd that logs into `log`, which must
// outlive it.
std::expected<HWND, std::string> create_taskbar_window(ShellEventLog& log,
                                                       const TaskbarWindowSetup& setup);

// A top-level window of class WineAppBar, the window through which Wine's SHAppBarMessage
// reaches the shell; it logs every app-bar call into `log`, which must outlive it.
std::expected<HWND, std::string> create_app_bar_observer(ShellEventLog& log);

// Answers an app-bar call the way Wine's shell does: writes `result` into the caller's return
// mapping. False when the call came in a layout without one.
bool answer_app_bar_call(const AppBarCall& call, std::uint64_t result);

// Decodes the WM_COPYDATA payload of an app-bar call. Wine 8 sends a 48-byte command with the
// window as 32 bits at offset 8 and lParam at offset 40; later versions send a whole APPBARDATA
// at offset 16. Anything else comes back with `decoded` false.
AppBarCall decode_app_bar_call(ULONG_PTR message, const void* data, DWORD size);

// The window's layered attributes, or empty when it has none.
std::optional<LayeredAttributes> layered_attributes_of(HWND window);

// The window's extended style as GetWindowLongW reads it.
DWORD ex_style_of(HWND window);

} // namespace watchdog::testing
