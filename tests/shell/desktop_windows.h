#pragma once

// The stand-in shell's desktop: a program-manager or worker window holding a shell view
// (SHELLDLL_DefView) that holds a real comctl32 list view (SysListView32), plus look-alike
// decoys. The shell view answers the "toggle desktop icons" menu command the way a test asks
// it to, and everything that matters to a test is recorded in a DesktopIconShell.
//
// The functions that create windows must run on a thread that pumps messages (a ShellThread,
// or the main thread of a stand-in shell process); the windows then belong to that thread.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <expected>
#include <mutex>
#include <string>
#include <vector>

namespace watchdog::testing {

// Explorer's shell-view menu command that toggles the desktop icons (WM_COMMAND wParam).
inline constexpr WPARAM toggle_desktop_icons_command = 0x7402;

// How long a shell view set to `hang` blocks in its window procedure: longer than the 500 ms
// that a sender willing to wait for the shell grants it, and than the 660 ms of one attempt
// that finds it stalled (the send, then two pauses of 80 ms).
inline constexpr std::chrono::milliseconds hung_command_duration{900};

// What the shell view does with the toggle command.
enum class ToggleBehaviour {
    toggle,      // shows the list view if hidden, hides it if shown
    ignore,      // receives the command and does nothing
    hang,        // stalls for hung_command_duration in its window procedure, then does nothing
    slow_toggle, // stalls for hung_command_duration, then toggles as `toggle` does
    recreate,    // destroys the list view and creates a new one with the opposite visibility
    // destroys the list view and creates a new one with the same visibility: the command
    // had no effect but to replace the window
    recreate_unchanged,
};

enum class IconShellEventKind {
    toggle_command,      // WM_COMMAND 0x7402 with lParam 0 at a shell view
    stray_command,       // any other WM_COMMAND at a stand-in window
    shown_from_outside,  // WM_SHOWWINDOW (shown) at the list view, not caused by the shell
    hidden_from_outside, // WM_SHOWWINDOW (hidden) at the list view, not caused by the shell
    list_view_created,   // the shell created a list view while handling the command
};

struct IconShellEvent {
    IconShellEventKind kind = IconShellEventKind::toggle_command;
    HWND window = nullptr; // the window that received the message, or the new list view
};

// One stand-in desktop's icon shell: how it behaves, which list view is current, and what its
// windows received. Written on the thread that owns the windows, read by anyone; it must
// outlive every window created with it.
struct DesktopIconShell {
    std::atomic<ToggleBehaviour> behaviour{ToggleBehaviour::toggle};
    // When set, the list view turns down every change of its visibility, from the shell's
    // own toggle as well as from outside (WM_WINDOWPOSCHANGING drops the show and hide flags).
    std::atomic<bool> refuse_visibility_change{false};
    // When set, only the shell's own toggle changes the list view's visibility, the way the
    // shell keeps to its own icon setting: ShowWindow from outside is turned down.
    std::atomic<bool> refuse_outside_visibility_change{false};
    std::atomic<HWND> list_view{nullptr};

    std::mutex mutex;
    std::vector<IconShellEvent> events;

    // True while the shell view handles a command, so that the list view's reaction to the
    // shell's own ShowWindow is not taken for someone else's. Owning thread only.
    bool handling_command = false;
};

std::vector<IconShellEvent> icon_shell_events(DesktopIconShell& shell);
int count_icon_shell_events(DesktopIconShell& shell, IconShellEventKind kind);

// InitCommonControlsEx for the list view class, and the stand-in classes. Safe to call again.
std::expected<void, std::string> register_desktop_window_classes();

// A visible window of any class name with a plain window procedure: top-level when `parent` is
// null, a child otherwise. Commands it receives are recorded as stray in `observer`, if given.
// These classes are registered under another module's instance than the shell view and the
// list view, because class lookup ignores letter case: a plain "syslistview32" decoy would
// otherwise stand in for comctl32's SysListView32, and "shelldll_defview" could not coexist
// with SHELLDLL_DefView.
std::expected<HWND, std::string> create_plain_window(HWND parent, const wchar_t* class_name,
                                                     DesktopIconShell* observer = nullptr);

// A visible window of class SHELLDLL_DefView that answers the toggle command as
// `shell.behaviour` says. Top-level when `parent` is null.
std::expected<HWND, std::string> create_shell_view(HWND parent, DesktopIconShell& shell);

// A real comctl32 list view (class SysListView32), recorded as `shell.list_view` and watched
// for WM_SHOWWINDOW. Top-level when `parent` is null.
std::expected<HWND, std::string> create_icon_list_view(HWND parent, DesktopIconShell& shell,
                                                       bool visible);

struct DesktopIconWindows {
    HWND top_level = nullptr;
    HWND shell_view = nullptr;
    HWND list_view = nullptr;
};

struct IconTreeLayout {
    const wchar_t* top_level_class = L"Progman";
    bool icons_visible = true;
    // Puts a plain window between the shell view and the list view, so that the list view's
    // parent is not the shell view.
    bool nested_list_view = false;
};

// top level -> SHELLDLL_DefView -> [WatchdogIconHost ->] SysListView32.
std::expected<DesktopIconWindows, std::string> create_icon_tree(DesktopIconShell& shell,
                                                                const IconTreeLayout& layout);

// Progman -> SHELLDLL_DefView -> SysListView32, as on a desktop without a wallpaper slideshow.
std::expected<DesktopIconWindows, std::string> create_program_manager_icons(DesktopIconShell& shell,
                                                                            bool icons_visible);

// An empty Progman and a WorkerW -> SHELLDLL_DefView -> SysListView32, as Windows arranges it
// once the shell view has moved to a worker window.
std::expected<DesktopIconWindows, std::string> create_worker_icons(DesktopIconShell& shell,
                                                                   bool icons_visible);

// Destroys every top-level window that the calling thread owns, and so their children: the
// teardown of a test, before the DesktopIconShell that the windows point to goes away.
void destroy_windows_of_this_thread();

// The WS_VISIBLE bit of the window itself, readable from any thread and desktop. Whether the
// window can be seen also depends on its parents: ask IsWindowVisible on the window's desktop.
bool has_visible_style(HWND window);

} // namespace watchdog::testing
