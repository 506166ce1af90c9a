#include "taskbar_windows.h"

#include "window_class.h"

#include "win/unique_resource.h"
#include "win/window_handle.h"

#include <shellapi.h>

#include <cstring>
#include <utility>

namespace watchdog::testing {
namespace {

constexpr const wchar_t* primary_class = L"Shell_TrayWnd";
constexpr const wchar_t* secondary_class = L"Shell_SecondaryTrayWnd";
constexpr const wchar_t* app_bar_class = L"WineAppBar";

// Wine 8's app-bar command: { ULONG return_map; ULONG return_process; ULONG hWnd;
// UINT uCallbackMessage; UINT uEdge; RECT rc; 4 bytes padding; ULONGLONG lParam; }.
constexpr DWORD wine8_command_size = 48;
constexpr std::size_t wine8_window_offset = 8;
constexpr std::size_t wine8_lparam_offset = 40;
// Later Wine versions put a whole APPBARDATA behind a 16-byte header.
constexpr std::size_t appbardata_offset = 16;

void record(ShellEventLog& log, const ShellEvent& event) {
    std::function<void(const ShellEvent&)> reaction;
    {
        std::lock_guard lock(log.mutex);
        log.events.push_back(event);
        reaction = log.reaction;
    }
    // Outside the lock: the reaction may cause further messages, which log again.
    if (reaction) {
        reaction(event);
    }
}

ShellEventLog* log_of(HWND window) {
    return reinterpret_cast<ShellEventLog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void remember_log(HWND window, LPARAM create_parameters) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(create_parameters);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

bool is_ex_style_change(WPARAM which) {
    return static_cast<int>(static_cast<LONG_PTR>(which)) == GWL_EXSTYLE;
}

std::optional<ShellEvent> taskbar_event(HWND window, UINT message, WPARAM w, LPARAM l) {
    ShellEvent event;
    event.window = window;
    switch (message) {
    case WM_STYLECHANGING:
    case WM_STYLECHANGED: {
        if (!is_ex_style_change(w)) {
            return std::nullopt;
        }
        const auto* styles = reinterpret_cast<const STYLESTRUCT*>(l);
        event.kind = message == WM_STYLECHANGING ? ShellEventKind::ex_style_changing
                                                 : ShellEventKind::ex_style_changed;
        event.old_ex_style = styles->styleOld;
        event.new_ex_style = styles->styleNew;
        break;
    }
    case WM_WINDOWPOSCHANGING:
        event.kind = ShellEventKind::window_pos_changing;
        event.window_pos_flags = reinterpret_cast<const WINDOWPOS*>(l)->flags;
        break;
    case WM_SHOWWINDOW:
        event.kind = ShellEventKind::show_window;
        event.shown = w != FALSE;
        break;
    default:
        return std::nullopt;
    }
    event.layered = layered_attributes_of(window);
    return event;
}

LRESULT CALLBACK taskbar_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        remember_log(window, l);
    }
    if (ShellEventLog* log = log_of(window)) {
        if (const auto event = taskbar_event(window, message, w, l)) {
            record(*log, *event);
        }
    }
    return DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK app_bar_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        remember_log(window, l);
    }
    ShellEventLog* log = log_of(window);
    if (message == WM_COPYDATA && log != nullptr) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(l);
        ShellEvent event;
        event.kind = ShellEventKind::app_bar_message;
        event.window = window;
        event.app_bar = decode_app_bar_call(copy->dwData, copy->lpData, copy->cbData);
        record(*log, event);
        if (copy->dwData == ABM_GETSTATE) {
            answer_app_bar_call(event.app_bar, log->appbar_state.load());
        }
        if (copy->dwData == ABM_SETSTATE && event.app_bar.decoded) {
            log->appbar_state = static_cast<std::uint32_t>(event.app_bar.lparam);
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, w, l);
}

std::expected<HWND, std::string> create_logging_window(ShellEventLog& log, const wchar_t* name,
                                                       WNDPROC procedure, DWORD ex_style,
                                                       DWORD style, HWND parent) {
    if (auto registered = ensure_window_class(GetModuleHandleW(nullptr), name, procedure);
        !registered) {
        return std::unexpected(registered.error());
    }
    HWND window = CreateWindowExW(ex_style, name, L"", style, 0, 0, 200, 30, parent, nullptr,
                                  GetModuleHandleW(nullptr), &log);
    if (window == nullptr) {
        return std::unexpected(failure("CreateWindowExW"));
    }
    return window;
}

std::int64_t handle_value_of_long(std::int32_t value) {
    // Handles travel as 32 bits and are widened with sign extension (LongToHandle).
    return static_cast<std::int64_t>(value);
}

} // namespace

std::vector<ShellEvent> shell_events(ShellEventLog& log) {
    std::lock_guard lock(log.mutex);
    return log.events;
}

void clear_shell_events(ShellEventLog& log) {
    std::lock_guard lock(log.mutex);
    log.events.clear();
}

void set_shell_reaction(ShellEventLog& log, std::function<void(const ShellEvent&)> reaction) {
    std::lock_guard lock(log.mutex);
    log.reaction = std::move(reaction);
}

std::expected<HWND, std::string> create_taskbar_window(ShellEventLog& log,
                                                       const TaskbarWindowSetup& setup) {
    const wchar_t* name = setup.kind == TaskbarKind::primary ? primary_class : secondary_class;
    DWORD style = setup.parent != nullptr ? WS_CHILD : WS_POPUP;
    if (setup.visible) {
        style |= WS_VISIBLE;
    }
    auto window =
        create_logging_window(log, name, taskbar_procedure, setup.ex_style, style, setup.parent);
    if (!window || !setup.layered) {
        return window;
    }
    const LayeredAttributes& layered = *setup.layered;
    if (!SetLayeredWindowAttributes(*window, layered.color, layered.alpha, layered.flags)) {
        std::string message = failure("SetLayeredWindowAttributes");
        DestroyWindow(*window);
        return std::unexpected(message);
    }
    return window;
}

std::expected<HWND, std::string> create_app_bar_observer(ShellEventLog& log) {
    return create_logging_window(log, app_bar_class, app_bar_procedure, 0, WS_POPUP, nullptr);
}

AppBarCall decode_app_bar_call(ULONG_PTR message, const void* data, DWORD size) {
    AppBarCall call;
    call.message = message;
    call.data_size = size;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (bytes == nullptr) {
        return call;
    }
    if (size == wine8_command_size) {
        std::int32_t window = 0;
        std::memcpy(&call.return_map, bytes, sizeof(call.return_map));
        std::memcpy(&call.return_process, bytes + sizeof(call.return_map),
                    sizeof(call.return_process));
        std::memcpy(&window, bytes + wine8_window_offset, sizeof(window));
        std::memcpy(&call.lparam, bytes + wine8_lparam_offset, sizeof(call.lparam));
        call.window = handle_value_of_long(window);
        call.decoded = true;
    } else if (size >= appbardata_offset + sizeof(APPBARDATA)) {
        APPBARDATA appbar;
        std::memcpy(&appbar, bytes + appbardata_offset, sizeof(appbar));
        if (appbar.cbSize == sizeof(APPBARDATA)) {
            call.window = window_handle_value(appbar.hWnd);
            call.lparam = static_cast<std::uint64_t>(appbar.lParam);
            call.decoded = true;
        }
    }
    return call;
}

bool answer_app_bar_call(const AppBarCall& call, std::uint64_t result) {
    if (call.return_map == 0) {
        return false;
    }
    const watchdog::UniqueHandle caller(
        OpenProcess(PROCESS_DUP_HANDLE, FALSE, call.return_process));
    watchdog::UniqueHandle mapping;
    if (!caller ||
        !DuplicateHandle(caller.get(), ULongToHandle(call.return_map), GetCurrentProcess(),
                         mapping.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(result));
    if (view == nullptr) {
        return false;
    }
    std::memcpy(view, &result, sizeof(result));
    UnmapViewOfFile(view);
    return true;
}

std::optional<LayeredAttributes> layered_attributes_of(HWND window) {
    LayeredAttributes attributes;
    if (!GetLayeredWindowAttributes(window, &attributes.color, &attributes.alpha,
                                    &attributes.flags)) {
        return std::nullopt;
    }
    return attributes;
}

DWORD ex_style_of(HWND window) {
    return static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
}

} // namespace watchdog::testing
