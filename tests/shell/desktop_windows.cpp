#include "desktop_windows.h"

#include "window_class.h"

#include <commctrl.h>

#include <algorithm>

namespace watchdog::testing {
namespace {

constexpr const wchar_t* shell_view_class = L"SHELLDLL_DefView";
constexpr const wchar_t* worker_class = L"WorkerW";
constexpr const wchar_t* program_manager_class = L"Progman";
constexpr const wchar_t* icon_host_class = L"WatchdogIconHost";
constexpr UINT_PTR list_view_subclass_id = 1;
constexpr int window_size = 100;

// The shell view and the list view belong to this module; plain windows to kernel32, which
// every process has loaded, so that the two sets of class names never meet in a lookup.
HINSTANCE shell_instance() {
    return GetModuleHandleW(nullptr);
}
HINSTANCE plain_instance() {
    return GetModuleHandleW(L"kernel32.dll");
}

void record(DesktopIconShell& shell, IconShellEventKind kind, HWND window) {
    std::lock_guard lock(shell.mutex);
    shell.events.push_back({kind, window});
}

DesktopIconShell* shell_of(HWND window) {
    return reinterpret_cast<DesktopIconShell*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void remember_shell(HWND window, LPARAM create_parameters) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(create_parameters);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

DWORD window_style(HWND parent, bool visible) {
    const DWORD kind = parent != nullptr ? WS_CHILD : WS_POPUP;
    return visible ? kind | WS_VISIBLE : kind;
}

LRESULT CALLBACK list_view_subclass(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                    DWORD_PTR reference) {
    auto& shell = *reinterpret_cast<DesktopIconShell*>(reference);
    // lParam 0: a ShowWindow call on this very window, not a parent being shown or hidden.
    if (message == WM_SHOWWINDOW && l == 0 && !shell.handling_command) {
        record(shell,
               w != FALSE ? IconShellEventKind::shown_from_outside
                          : IconShellEventKind::hidden_from_outside,
               window);
    }
    const bool refused = shell.refuse_visibility_change ||
                         (shell.refuse_outside_visibility_change && !shell.handling_command);
    if (message == WM_WINDOWPOSCHANGING && refused) {
        reinterpret_cast<WINDOWPOS*>(l)->flags &=
            ~static_cast<UINT>(SWP_SHOWWINDOW | SWP_HIDEWINDOW);
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, list_view_subclass, list_view_subclass_id);
    }
    return DefSubclassProc(window, message, w, l);
}

// Runs the shell's own reaction to a command, which the list view must not record as coming
// from outside.
template <typename Reaction> void as_shell(DesktopIconShell& shell, Reaction reaction) {
    shell.handling_command = true;
    reaction();
    shell.handling_command = false;
}

void toggle_list_view(DesktopIconShell& shell) {
    const HWND list_view = shell.list_view;
    as_shell(shell,
             [&] { ShowWindow(list_view, has_visible_style(list_view) ? SW_HIDE : SW_SHOW); });
}

void recreate_list_view(DesktopIconShell& shell, bool toggle) {
    const HWND old_view = shell.list_view;
    const HWND parent = GetParent(old_view);
    const bool visible = has_visible_style(old_view) != toggle;
    as_shell(shell, [&] {
        DestroyWindow(old_view);
        if (const auto created = create_icon_list_view(parent, shell, visible)) {
            record(shell, IconShellEventKind::list_view_created, *created);
        }
    });
}

void handle_command(DesktopIconShell& shell, HWND window, WPARAM w, LPARAM l) {
    if (w != toggle_desktop_icons_command || l != 0) {
        record(shell, IconShellEventKind::stray_command, window);
        return;
    }
    record(shell, IconShellEventKind::toggle_command, window);
    switch (shell.behaviour.load()) {
    case ToggleBehaviour::toggle:
        toggle_list_view(shell);
        break;
    case ToggleBehaviour::ignore:
        break;
    case ToggleBehaviour::hang:
        Sleep(static_cast<DWORD>(hung_command_duration.count()));
        break;
    case ToggleBehaviour::slow_toggle:
        Sleep(static_cast<DWORD>(hung_command_duration.count()));
        toggle_list_view(shell);
        break;
    case ToggleBehaviour::recreate:
        recreate_list_view(shell, true);
        break;
    case ToggleBehaviour::recreate_unchanged:
        recreate_list_view(shell, false);
        break;
    }
}

LRESULT CALLBACK shell_view_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        remember_shell(window, l);
    }
    DesktopIconShell* shell = shell_of(window);
    if (message == WM_COMMAND && shell != nullptr) {
        handle_command(*shell, window, w, l);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK plain_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        remember_shell(window, l);
    }
    DesktopIconShell* observer = shell_of(window);
    if (message == WM_COMMAND && observer != nullptr) {
        record(*observer, IconShellEventKind::stray_command, window);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

std::expected<HWND, std::string> create_window(HINSTANCE instance, const wchar_t* class_name,
                                               HWND parent, bool visible, void* parameter) {
    HWND window = CreateWindowExW(0, class_name, L"", window_style(parent, visible), 0, 0,
                                  window_size, window_size, parent, nullptr, instance, parameter);
    if (window == nullptr) {
        return std::unexpected(failure("CreateWindowExW"));
    }
    return window;
}

BOOL CALLBACK collect_window(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

} // namespace

std::vector<IconShellEvent> icon_shell_events(DesktopIconShell& shell) {
    std::lock_guard lock(shell.mutex);
    return shell.events;
}

int count_icon_shell_events(DesktopIconShell& shell, IconShellEventKind kind) {
    std::lock_guard lock(shell.mutex);
    return static_cast<int>(std::ranges::count(shell.events, kind, &IconShellEvent::kind));
}

std::expected<void, std::string> register_desktop_window_classes() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    if (!InitCommonControlsEx(&controls)) {
        return std::unexpected(failure("InitCommonControlsEx"));
    }
    return ensure_window_class(shell_instance(), shell_view_class, shell_view_procedure);
}

std::expected<HWND, std::string> create_plain_window(HWND parent, const wchar_t* class_name,
                                                     DesktopIconShell* observer) {
    if (auto registered = ensure_window_class(plain_instance(), class_name, plain_procedure);
        !registered) {
        return std::unexpected(registered.error());
    }
    return create_window(plain_instance(), class_name, parent, true, observer);
}

std::expected<HWND, std::string> create_shell_view(HWND parent, DesktopIconShell& shell) {
    if (auto registered = register_desktop_window_classes(); !registered) {
        return std::unexpected(registered.error());
    }
    return create_window(shell_instance(), shell_view_class, parent, true, &shell);
}

std::expected<HWND, std::string> create_icon_list_view(HWND parent, DesktopIconShell& shell,
                                                       bool visible) {
    // The instance must be this module's: with a null instance, class lookup would also accept
    // a plain decoy whose name differs only in case.
    auto window = create_window(shell_instance(), WC_LISTVIEWW, parent, visible, nullptr);
    if (!window) {
        return window;
    }
    if (!SetWindowSubclass(*window, list_view_subclass, list_view_subclass_id,
                           reinterpret_cast<DWORD_PTR>(&shell))) {
        std::string message = failure("SetWindowSubclass");
        DestroyWindow(*window);
        return std::unexpected(message);
    }
    shell.list_view = *window;
    return window;
}

std::expected<DesktopIconWindows, std::string> create_icon_tree(DesktopIconShell& shell,
                                                                const IconTreeLayout& layout) {
    DesktopIconWindows windows;
    auto top_level = create_plain_window(nullptr, layout.top_level_class, &shell);
    if (!top_level) {
        return std::unexpected(top_level.error());
    }
    windows.top_level = *top_level;
    auto shell_view = create_shell_view(windows.top_level, shell);
    if (!shell_view) {
        return std::unexpected(shell_view.error());
    }
    windows.shell_view = *shell_view;
    HWND list_parent = windows.shell_view;
    if (layout.nested_list_view) {
        auto host = create_plain_window(windows.shell_view, icon_host_class, &shell);
        if (!host) {
            return std::unexpected(host.error());
        }
        list_parent = *host;
    }
    auto list_view = create_icon_list_view(list_parent, shell, layout.icons_visible);
    if (!list_view) {
        return std::unexpected(list_view.error());
    }
    windows.list_view = *list_view;
    return windows;
}

std::expected<DesktopIconWindows, std::string> create_program_manager_icons(DesktopIconShell& shell,
                                                                            bool icons_visible) {
    return create_icon_tree(
        shell, {.top_level_class = program_manager_class, .icons_visible = icons_visible});
}

std::expected<DesktopIconWindows, std::string> create_worker_icons(DesktopIconShell& shell,
                                                                   bool icons_visible) {
    if (auto program_manager = create_plain_window(nullptr, program_manager_class, &shell);
        !program_manager) {
        return std::unexpected(program_manager.error());
    }
    return create_icon_tree(shell,
                            {.top_level_class = worker_class, .icons_visible = icons_visible});
}

void destroy_windows_of_this_thread() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collect_window, reinterpret_cast<LPARAM>(&windows));
    for (const HWND window : windows) {
        // A window destroyed with an earlier one (an owned window) is simply gone by now.
        if (IsWindow(window)) {
            DestroyWindow(window);
        }
    }
}

bool has_visible_style(HWND window) {
    return (static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & WS_VISIBLE) != 0;
}

} // namespace watchdog::testing
