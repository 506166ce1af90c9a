#include "taskbar/taskbar_restore.h"

#include "stand_in_desktop.h"
#include "win/error_text.h"
#include "win/window_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace watchdog::testing {

void PrintTo(const LayeredAttributes& attributes, std::ostream* out) {
    char text[64];
    std::snprintf(text, sizeof(text), "{color 0x%08lX, alpha %u, flags 0x%lX}",
                  static_cast<unsigned long>(attributes.color), unsigned{attributes.alpha},
                  static_cast<unsigned long>(attributes.flags));
    *out << text;
}

namespace {

constexpr DWORD unreachable = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOACTIVATE;
constexpr ULONG_PTR abm_setstate = 0x0000000A;
constexpr UINT frame_refresh_flags = 0x0077;
const LayeredAttributes opaque{0, 255, LWA_ALPHA};
const LayeredAttributes invisible{0x00010203, 0, LWA_ALPHA | LWA_COLORKEY};

using Scene = StandInDesktop;

HWND add_window(Scene& scene, const TaskbarWindowSetup& setup) {
    const auto created =
        on_shell(scene, [&] { return create_taskbar_window(scene.taskbar_log, setup); });
    if (!created) {
        throw std::runtime_error(created.error());
    }
    return *created;
}

HWND add_primary(Scene& scene, DWORD ex_style,
                 std::optional<LayeredAttributes> layered = std::nullopt) {
    return add_window(scene,
                      {.kind = TaskbarKind::primary, .ex_style = ex_style, .layered = layered});
}

HWND add_secondary(Scene& scene, DWORD ex_style,
                   std::optional<LayeredAttributes> layered = std::nullopt) {
    return add_window(scene,
                      {.kind = TaskbarKind::secondary, .ex_style = ex_style, .layered = layered});
}

void add_app_bar_observer(Scene& scene) {
    const auto created =
        on_shell(scene, [&] { return create_app_bar_observer(scene.taskbar_log); });
    if (!created) {
        throw std::runtime_error(created.error());
    }
}

struct WindowState {
    bool exists = false;
    DWORD ex_style = 0;
    bool visible = false;
    std::optional<LayeredAttributes> layered;
};

// Read on the shell thread: visibility asked from another desktop is not reliable.
WindowState state_of(Scene& scene, HWND window) {
    WindowState state;
    invoke(scene.shell, [&] {
        state.exists = IsWindow(window) != FALSE;
        state.ex_style = ex_style_of(window);
        state.visible = IsWindowVisible(window) != FALSE;
        state.layered = layered_attributes_of(window);
    });
    return state;
}

// Runs the restore from the desktop the stand-in shell lives on; the log then holds only what
// the restore did.
std::expected<void, std::string> restore_on(Scene& scene, const TaskbarRecoverySnapshot& snapshot) {
    clear_shell_events(scene.taskbar_log);
    return on_desktop(scene, [&] {
        BoundedWorker worker;
        return restore_taskbar(snapshot, worker);
    });
}

std::vector<HWND> taskbars_found_on(Scene& scene) {
    std::vector<HWND> found;
    run_on_desktop(scene.desktop, [&] {
        if (HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr)) {
            found = find_taskbar_windows(primary);
        }
    });
    return found;
}

TaskbarWindowRecoveryState plain_record(std::int64_t hwnd, DWORD ex_style) {
    return {.hwnd = hwnd, .ex_style = static_cast<std::int32_t>(ex_style)};
}

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// What one window went through, in order: extended style changes, being shown, and the final
// frame refresh (the only position change that carries all of the refresh flags).
std::vector<std::string> trace_of(const std::vector<ShellEvent>& events, HWND window) {
    std::vector<std::string> trace;
    for (const ShellEvent& event : events) {
        if (event.window != window) {
            continue;
        }
        switch (event.kind) {
        case ShellEventKind::ex_style_changing:
            trace.push_back("changing " + hex(event.old_ex_style) + " -> " +
                            hex(event.new_ex_style));
            break;
        case ShellEventKind::ex_style_changed:
            trace.push_back("changed to " + hex(event.new_ex_style));
            break;
        case ShellEventKind::show_window:
            trace.push_back(event.shown ? "shown" : "hidden");
            break;
        case ShellEventKind::window_pos_changing:
            if ((event.window_pos_flags & frame_refresh_flags) == frame_refresh_flags) {
                trace.push_back("frame refresh");
            }
            break;
        case ShellEventKind::app_bar_message:
            break;
        }
    }
    return trace;
}

std::vector<std::string> restored_trace(DWORD from, DWORD to) {
    return {"changing " + hex(from) + " -> " + hex(to), "changed to " + hex(to), "shown",
            "frame refresh"};
}

const ShellEvent* first_event(const std::vector<ShellEvent>& events, HWND window,
                              ShellEventKind kind) {
    const auto found = std::find_if(events.begin(), events.end(), [&](const ShellEvent& event) {
        return event.window == window && event.kind == kind;
    });
    return found == events.end() ? nullptr : &*found;
}

const ShellEvent* frame_refresh_event(const std::vector<ShellEvent>& events, HWND window) {
    for (const ShellEvent& event : events) {
        if (event.window == window && event.kind == ShellEventKind::window_pos_changing &&
            (event.window_pos_flags & frame_refresh_flags) == frame_refresh_flags) {
            return &event;
        }
    }
    return nullptr;
}

std::vector<AppBarCall> app_bar_calls(const std::vector<ShellEvent>& events) {
    std::vector<AppBarCall> calls;
    for (const ShellEvent& event : events) {
        if (event.kind == ShellEventKind::app_bar_message) {
            calls.push_back(event.app_bar);
        }
    }
    return calls;
}

// Exactly one ABM_SETSTATE, for the primary taskbar, after every window was dealt with.
void expect_single_app_bar_state(const std::vector<ShellEvent>& events, HWND primary,
                                 std::uint32_t appbar_state) {
    const auto calls = app_bar_calls(events);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, abm_setstate);
    ASSERT_TRUE(calls[0].decoded) << "unknown app-bar data layout of " << calls[0].data_size
                                  << " bytes";
    EXPECT_EQ(calls[0].window, window_handle_value(primary));
    EXPECT_EQ(calls[0].lparam, std::uint64_t{appbar_state});
    EXPECT_EQ(events.back().kind, ShellEventKind::app_bar_message);
}

// A transparent tool-window primary, alone on its desktop, given back its plain tool-window
// style: the style trace, the final state and the single app-bar message.
void expect_lone_primary_restored_as_tool_window(Scene& scene, HWND primary,
                                                 std::uint32_t appbar_state) {
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(trace_of(events, primary),
              restored_trace(WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW));
    const WindowState state = state_of(scene, primary);
    EXPECT_EQ(state.ex_style, DWORD{WS_EX_TOOLWINDOW});
    EXPECT_TRUE(state.visible);
    expect_single_app_bar_state(events, primary, appbar_state);
}

TEST(TaskbarRestore, WithoutPrimaryTaskbarFailsAndTouchesNothing) {
    Scene scene;
    HWND secondary = add_secondary(scene, WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW);
    HWND hidden = add_secondary(scene, unreachable, invisible);
    add_app_bar_observer(scene);
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 2,
        .windows = {plain_record(window_handle_value(secondary), WS_EX_TOOLWINDOW),
                    plain_record(window_handle_value(hidden), WS_EX_TOOLWINDOW)}};

    const auto result = restore_on(scene, snapshot);

    DWORD lookup_error = 0;
    run_on_desktop(scene.desktop, [&] {
        SetLastError(ERROR_SUCCESS);
        if (FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr) {
            lookup_error = GetLastError();
        }
    });
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(),
              "未找到 Windows 系统任务栏: " + windows_error_text(win32_failure(lookup_error)));
    EXPECT_TRUE(shell_events(scene.taskbar_log).empty());
    const WindowState first = state_of(scene, secondary);
    EXPECT_EQ(first.ex_style, DWORD{WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW});
    EXPECT_FALSE(first.visible);
    const WindowState second = state_of(scene, hidden);
    EXPECT_EQ(second.ex_style, unreachable);
    EXPECT_EQ(second.layered, invisible);
    EXPECT_FALSE(second.visible);
}

TEST(TaskbarRestore, RestoresALonePrimaryTaskbar) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW);
    add_app_bar_observer(scene);
    ASSERT_EQ(taskbars_found_on(scene), std::vector<HWND>{primary});

    const auto result = restore_on(
        scene, {.appbar_state = 2,
                .windows = {plain_record(window_handle_value(primary), WS_EX_TOOLWINDOW)}});

    ASSERT_TRUE(result.has_value()) << result.error();
    expect_lone_primary_restored_as_tool_window(scene, primary, 2);
}

TEST(TaskbarRestore, FindsThePrimaryThenTopLevelSecondariesInSearchOrder) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TOOLWINDOW);
    HWND first = add_secondary(scene, WS_EX_TOOLWINDOW);
    add_app_bar_observer(scene); // a top-level window of another class in between
    HWND nested = add_window(scene, {.kind = TaskbarKind::secondary,
                                     .ex_style = 0,
                                     .layered = std::nullopt,
                                     .parent = primary});
    HWND second = add_secondary(scene, WS_EX_TOOLWINDOW);

    // The window manager's own top-level order, from EnumWindows, is the search order.
    std::vector<HWND> expected{primary};
    run_on_desktop(scene.desktop, [&] {
        EnumWindows(
            [](HWND window, LPARAM list) -> BOOL {
                wchar_t name[64] = {};
                GetClassNameW(window, name, 64);
                if (std::wstring_view(name) == L"Shell_SecondaryTrayWnd") {
                    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&expected));
    });
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_NE(std::find(expected.begin(), expected.end(), first), expected.end());
    ASSERT_NE(std::find(expected.begin(), expected.end(), second), expected.end());

    const auto found = taskbars_found_on(scene);
    EXPECT_EQ(found, expected);
    EXPECT_EQ(std::find(found.begin(), found.end(), nested), found.end());
}

TEST(TaskbarRestore, PairsRecordsByHandleWhateverTheirOrder) {
    Scene scene;
    add_primary(scene, WS_EX_TRANSPARENT);
    add_secondary(scene, WS_EX_TRANSPARENT);
    add_secondary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    const auto found = taskbars_found_on(scene);
    ASSERT_EQ(found.size(), 3u);
    const DWORD styles[] = {WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, WS_EX_TOOLWINDOW,
                            WS_EX_ACCEPTFILES};
    // Rotated so that no record sits at its window's position: pairing by position would give
    // every window another window's style.
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 1,
        .windows = {plain_record(window_handle_value(found[1]), styles[1]),
                    plain_record(window_handle_value(found[2]), styles[2]),
                    plain_record(window_handle_value(found[0]), styles[0])}};

    const auto result = restore_on(scene, snapshot);

    ASSERT_TRUE(result.has_value()) << result.error();
    const auto events = shell_events(scene.taskbar_log);
    for (std::size_t position = 0; position < found.size(); ++position) {
        SCOPED_TRACE("position " + std::to_string(position));
        EXPECT_EQ(trace_of(events, found[position]),
                  restored_trace(WS_EX_TRANSPARENT, styles[position]));
        const WindowState state = state_of(scene, found[position]);
        EXPECT_EQ(state.ex_style, styles[position]);
        EXPECT_TRUE(state.visible);
    }
    expect_single_app_bar_state(events, found[0], 1);
}

TEST(TaskbarRestore, PairsByPositionWhenNoRecordedHandleIsFound) {
    Scene scene;
    // Both secondaries alike, so that the test does not depend on which one is found first.
    const DWORD secondary_style = unreachable | WS_EX_TOOLWINDOW;
    add_primary(scene, WS_EX_TRANSPARENT);
    add_secondary(scene, secondary_style, invisible);
    add_secondary(scene, secondary_style, invisible);
    add_app_bar_observer(scene);
    const auto found = taskbars_found_on(scene);
    ASSERT_EQ(found.size(), 3u);
    // Window handles are sign-extended 32-bit values, so these name no window.
    const std::int64_t stale = 0x7FFFFFFF00000010;
    const TaskbarRecoverySnapshot snapshot{.appbar_state = 3,
                                           .windows = {plain_record(stale, WS_EX_TOOLWINDOW),
                                                       plain_record(stale + 1, WS_EX_APPWINDOW)}};

    const auto result = restore_on(scene, snapshot);

    ASSERT_TRUE(result.has_value()) << result.error();
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(trace_of(events, found[0]), restored_trace(WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW));
    EXPECT_EQ(trace_of(events, found[1]), restored_trace(secondary_style, WS_EX_APPWINDOW));
    EXPECT_EQ(state_of(scene, found[1]).ex_style, DWORD{WS_EX_APPWINDOW});
    // The third window has no record: it is made opaque and only loses WS_EX_TRANSPARENT.
    const DWORD kept = WS_EX_LAYERED | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
    EXPECT_EQ(trace_of(events, found[2]), restored_trace(secondary_style, kept));
    const WindowState third = state_of(scene, found[2]);
    EXPECT_EQ(third.ex_style, kept);
    EXPECT_EQ(third.layered, opaque);
    EXPECT_TRUE(third.visible);
    expect_single_app_bar_state(events, found[0], 3);
}

TEST(TaskbarRestore, WithoutRecordsOnlyClearsClickThroughAndStillSendsTheAppBarState) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES);
    HWND partly = add_secondary(scene, WS_EX_LAYERED | WS_EX_TRANSPARENT,
                                LayeredAttributes{0, 10, LWA_ALPHA});
    HWND hidden = add_secondary(scene, unreachable, invisible);
    add_app_bar_observer(scene);

    const auto result = restore_on(scene, {.appbar_state = 1, .windows = {}});

    ASSERT_TRUE(result.has_value()) << result.error();
    const WindowState first = state_of(scene, primary);
    EXPECT_EQ(first.ex_style, DWORD{WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES});
    EXPECT_TRUE(first.visible);
    // Two of the three bits do not make a window unreachable: its attributes stay.
    const WindowState second = state_of(scene, partly);
    EXPECT_EQ(second.ex_style, DWORD{WS_EX_LAYERED});
    EXPECT_EQ(second.layered, (LayeredAttributes{0, 10, LWA_ALPHA}));
    EXPECT_TRUE(second.visible);
    const WindowState third = state_of(scene, hidden);
    EXPECT_EQ(third.ex_style, DWORD{WS_EX_LAYERED | WS_EX_NOACTIVATE});
    EXPECT_EQ(third.layered, opaque);
    EXPECT_TRUE(third.visible);
    expect_single_app_bar_state(shell_events(scene.taskbar_log), primary, 1);
}

TEST(TaskbarRestore, MakesAnUnreachableTaskbarOpaqueBeforeItsRecordedState) {
    Scene scene;
    HWND primary = add_primary(scene, unreachable, invisible);
    add_app_bar_observer(scene);
    ASSERT_EQ(state_of(scene, primary).layered, invisible);
    const LayeredAttributes recorded{0x00123456, 200, LWA_ALPHA | LWA_COLORKEY};
    const DWORD recorded_style = WS_EX_LAYERED | WS_EX_TOOLWINDOW;
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 2,
        .windows = {{.hwnd = window_handle_value(primary),
                     .ex_style = static_cast<std::int32_t>(recorded_style),
                     .layered_color = recorded.color,
                     .layered_alpha = recorded.alpha,
                     .layered_flags = recorded.flags,
                     .had_layered_attributes = true}}};

    const auto result = restore_on(scene, snapshot);

    ASSERT_TRUE(result.has_value()) << result.error();
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(trace_of(events, primary), restored_trace(unreachable, recorded_style));
    // Opaque by the time the recorded style arrives, recorded attributes by the frame refresh.
    const ShellEvent* style_change =
        first_event(events, primary, ShellEventKind::ex_style_changing);
    ASSERT_NE(style_change, nullptr);
    EXPECT_EQ(style_change->layered, opaque);
    const ShellEvent* refresh = frame_refresh_event(events, primary);
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->layered, recorded);
    const WindowState state = state_of(scene, primary);
    EXPECT_EQ(state.ex_style, recorded_style);
    EXPECT_EQ(state.layered, recorded);
    EXPECT_TRUE(state.visible);
    expect_single_app_bar_state(events, primary, 2);
}

TEST(TaskbarRestore, LeavesAPartlyLayeredTaskbarAsItIsUntilItsRecordedStyle) {
    Scene scene;
    const LayeredAttributes faint{0, 10, LWA_ALPHA};
    HWND primary = add_primary(scene, WS_EX_LAYERED | WS_EX_TRANSPARENT, faint);
    add_app_bar_observer(scene);

    // A layered style recorded without attributes is made opaque after it is written.
    const auto result =
        restore_on(scene, {.appbar_state = 0,
                           .windows = {plain_record(window_handle_value(primary), WS_EX_LAYERED)}});

    ASSERT_TRUE(result.has_value()) << result.error();
    const auto events = shell_events(scene.taskbar_log);
    const ShellEvent* style_change =
        first_event(events, primary, ShellEventKind::ex_style_changing);
    ASSERT_NE(style_change, nullptr);
    EXPECT_EQ(style_change->layered, faint);
    const WindowState state = state_of(scene, primary);
    EXPECT_EQ(state.ex_style, DWORD{WS_EX_LAYERED});
    EXPECT_EQ(state.layered, opaque);
    expect_single_app_bar_state(events, primary, 0);
}

TEST(TaskbarRestore, SucceedsWhenRecordedAttributesMeetAStyleWithoutLayering) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW);
    add_app_bar_observer(scene);
    const TaskbarRecoverySnapshot snapshot{.appbar_state = 1,
                                           .windows = {{.hwnd = window_handle_value(primary),
                                                        .ex_style = WS_EX_TOOLWINDOW,
                                                        .layered_color = 0x00FF00FF,
                                                        .layered_alpha = 128,
                                                        .layered_flags = LWA_ALPHA | LWA_COLORKEY,
                                                        .had_layered_attributes = true}}};

    const auto result = restore_on(scene, snapshot);

    ASSERT_TRUE(result.has_value()) << result.error();
    expect_lone_primary_restored_as_tool_window(scene, primary, 1);
}

TEST(TaskbarRestore, CarriesOnWhenATaskbarVanishesBeforeItsTurn) {
    Scene scene;
    add_primary(scene, WS_EX_TRANSPARENT);
    add_secondary(scene, WS_EX_TRANSPARENT);
    add_secondary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    const auto found = taskbars_found_on(scene);
    ASSERT_EQ(found.size(), 3u);
    HWND primary = found[0];
    HWND victim = found[1];
    HWND survivor = found[2];
    // The shell drops the next taskbar while the restore works on the primary one, after the
    // list was taken.
    set_shell_reaction(scene.taskbar_log, [&](const ShellEvent& event) {
        if (event.window == primary && event.kind == ShellEventKind::ex_style_changed) {
            DestroyWindow(victim);
        }
    });
    const TaskbarRecoverySnapshot snapshot{
        .appbar_state = 2,
        .windows = {plain_record(window_handle_value(primary), WS_EX_TOOLWINDOW),
                    plain_record(window_handle_value(victim), WS_EX_TOOLWINDOW),
                    plain_record(window_handle_value(survivor), WS_EX_APPWINDOW)}};

    const auto result = restore_on(scene, snapshot);
    set_shell_reaction(scene.taskbar_log, nullptr);

    ASSERT_TRUE(result.has_value()) << result.error();
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_FALSE(state_of(scene, victim).exists);
    EXPECT_EQ(first_event(events, victim, ShellEventKind::ex_style_changing), nullptr);
    EXPECT_EQ(trace_of(events, primary), restored_trace(WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW));
    EXPECT_EQ(trace_of(events, survivor), restored_trace(WS_EX_TRANSPARENT, WS_EX_APPWINDOW));
    EXPECT_EQ(state_of(scene, survivor).ex_style, DWORD{WS_EX_APPWINDOW});
    expect_single_app_bar_state(events, primary, 2);
}

// The shell changes a later taskbar's style while the restore works on the primary one: that
// taskbar is planned from what it shows when its turn comes, and keeps what the shell added.
TEST(TaskbarRestore, PlansEachTaskbarFromTheStyleItShowsWhenItsTurnComes) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT);
    HWND secondary = add_secondary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    std::atomic<bool> changed{false};
    set_shell_reaction(scene.taskbar_log, [&](const ShellEvent& event) {
        if (event.window == primary && event.kind == ShellEventKind::ex_style_changed &&
            !changed.exchange(true)) {
            SetWindowLongW(secondary, GWL_EXSTYLE, WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW);
        }
    });

    const auto result = restore_on(scene, {.appbar_state = 1, .windows = {}});
    set_shell_reaction(scene.taskbar_log, nullptr);

    ASSERT_TRUE(result.has_value()) << result.error();
    ASSERT_TRUE(changed.load());
    EXPECT_EQ(state_of(scene, primary).ex_style, DWORD{0});
    EXPECT_EQ(state_of(scene, secondary).ex_style, DWORD{WS_EX_TOOLWINDOW});
}

TEST(TaskbarRestore, LeavesATaskbarThatAppearsDuringTheRestoreAlone) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    // Created on the shell thread while the restore works on the primary taskbar, so it only
    // gets touched if the secondary search runs after the changes have begun.
    std::atomic<HWND> latecomer{nullptr};
    set_shell_reaction(scene.taskbar_log, [&](const ShellEvent& event) {
        if (event.window == primary && event.kind == ShellEventKind::ex_style_changed &&
            latecomer.load() == nullptr) {
            latecomer = create_taskbar_window(scene.taskbar_log, {.kind = TaskbarKind::secondary,
                                                                  .ex_style = WS_EX_TRANSPARENT})
                            .value_or(nullptr);
        }
    });

    const auto result = restore_on(
        scene, {.appbar_state = 1,
                .windows = {plain_record(window_handle_value(primary), WS_EX_TOOLWINDOW)}});
    set_shell_reaction(scene.taskbar_log, nullptr);

    ASSERT_TRUE(result.has_value()) << result.error();
    ASSERT_NE(latecomer.load(), nullptr);
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(first_event(events, latecomer, ShellEventKind::ex_style_changing), nullptr);
    EXPECT_EQ(state_of(scene, latecomer).ex_style, DWORD{WS_EX_TRANSPARENT});
    EXPECT_EQ(trace_of(events, primary), restored_trace(WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW));
    expect_single_app_bar_state(events, primary, 1);
}

TEST(TaskbarRestore, SendsTheAppBarStateZeroExtended) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TOOLWINDOW);
    add_app_bar_observer(scene);
    for (const std::uint32_t appbar_state : {0u, 1u, 2u, 3u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("appbar_state " + std::to_string(appbar_state));
        const auto result = restore_on(scene, {.appbar_state = appbar_state, .windows = {}});
        EXPECT_TRUE(result.has_value()) << result.error();
        expect_single_app_bar_state(shell_events(scene.taskbar_log), primary, appbar_state);
    }
}

// The main application moved the primary taskbar out of the topmost band and a secondary one
// into it, or the other way round: both go back to the band they were recorded in.
TEST(TaskbarRestore, PutsEachTaskbarBackIntoTheTopmostBandItWasRecordedIn) {
    for (const bool primary_recorded_topmost : {true, false}) {
        SCOPED_TRACE(primary_recorded_topmost ? "primary topmost" : "secondary topmost");
        const DWORD primary_recorded = primary_recorded_topmost ? WS_EX_TOPMOST : 0;
        const DWORD secondary_recorded = primary_recorded_topmost ? 0 : WS_EX_TOPMOST;
        Scene scene;
        HWND primary = add_primary(scene, WS_EX_TOOLWINDOW | secondary_recorded);
        HWND secondary = add_secondary(scene, WS_EX_TOOLWINDOW | primary_recorded);
        add_app_bar_observer(scene);

        const auto result =
            restore_on(scene, {.appbar_state = 2,
                               .windows = {plain_record(window_handle_value(primary),
                                                        WS_EX_TOOLWINDOW | primary_recorded),
                                           plain_record(window_handle_value(secondary),
                                                        WS_EX_TOOLWINDOW | secondary_recorded)}});

        ASSERT_TRUE(result.has_value()) << result.error();
        EXPECT_EQ(state_of(scene, primary).ex_style, WS_EX_TOOLWINDOW | primary_recorded);
        EXPECT_EQ(state_of(scene, secondary).ex_style, WS_EX_TOOLWINDOW | secondary_recorded);
    }
}

// --- A shell that stops answering ------------------------------------------------------

// Stand-in windows owned by a thread of their own, which a test can stop the way a shell's
// thread stops when it hangs. Destroyed on that thread, after any hold on it is released.
struct ThreadOfTheShell {
    ShellThread thread;
    explicit ThreadOfTheShell(Scene& scene) { start_shell_thread(thread, scene.desktop); }
    ~ThreadOfTheShell() { invoke(thread, destroy_windows_of_this_thread); }
};

HWND add_window_on(ThreadOfTheShell& owner, Scene& scene, const TaskbarWindowSetup& setup) {
    std::expected<HWND, std::string> created = std::unexpected(std::string("not run"));
    invoke(owner.thread, [&] { created = create_taskbar_window(scene.taskbar_log, setup); });
    if (!created) {
        throw std::runtime_error(created.error());
    }
    return *created;
}

struct TimedResult {
    std::expected<void, std::string> result;
    std::chrono::milliseconds elapsed;
};

TimedResult timed_restore_on(Scene& scene, const TaskbarRecoverySnapshot& snapshot) {
    const auto start = std::chrono::steady_clock::now();
    auto result = restore_on(scene, snapshot);
    return {std::move(result), std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)};
}

const std::string unanswered = "任务栏窗口未响应";
constexpr std::chrono::milliseconds five_seconds{5000};

TEST(TaskbarRestoreUnanswered, ATaskbarWhoseThreadNeverAnswersIsLeftAloneTheOthersAreRestored) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    ThreadOfTheShell hung_thread(scene);
    const TaskbarWindowSetup hung_setup{.kind = TaskbarKind::secondary,
                                        .ex_style = WS_EX_TRANSPARENT};
    HWND hung = add_window_on(hung_thread, scene, hung_setup);
    HWND hung_too = add_window_on(hung_thread, scene, hung_setup);
    ShellThreadHold hold = hold_shell_thread(hung_thread.thread);

    const auto restore = timed_restore_on(
        scene, {.appbar_state = 2,
                .windows = {plain_record(window_handle_value(primary), WS_EX_TOOLWINDOW),
                            plain_record(window_handle_value(hung), WS_EX_TOOLWINDOW),
                            plain_record(window_handle_value(hung_too), WS_EX_TOOLWINDOW)}});

    EXPECT_EQ(restore.result, std::unexpected(unanswered));
    EXPECT_LT(restore.elapsed, five_seconds);
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(trace_of(events, primary), restored_trace(WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW));
    EXPECT_TRUE(trace_of(events, hung).empty());
    EXPECT_TRUE(trace_of(events, hung_too).empty());
    expect_single_app_bar_state(events, primary, 2);
    // Once the thread answers again it finishes the one call that was under way, the first
    // window's new style, and gets nothing more: neither the rest of that window's steps nor the
    // other window.
    release_hold(hold);
    Sleep(300); // time for a worker that went on to reach the later steps
    invoke(hung_thread.thread, [] {});
    const auto later = shell_events(scene.taskbar_log);
    const auto first =
        trace_of(later, hung_too).empty() ? trace_of(later, hung) : trace_of(later, hung_too);
    const auto whole = restored_trace(WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW);
    EXPECT_EQ(first, std::vector<std::string>(whole.begin(), whole.begin() + 2)); // the style
    EXPECT_TRUE(trace_of(later, hung).empty() || trace_of(later, hung_too).empty());
}

// The shell handles the app-bar state on the primary taskbar's thread: sent to a primary that
// does not answer, it would hold the restore just the same.
TEST(TaskbarRestoreUnanswered, APrimaryThatNeverAnswersGetsNoAppBarState) {
    Scene scene;
    ThreadOfTheShell hung_thread(scene);
    HWND primary = add_window_on(hung_thread, scene,
                                 {.kind = TaskbarKind::primary, .ex_style = WS_EX_TRANSPARENT});
    invoke(hung_thread.thread, [&] { ASSERT_TRUE(create_app_bar_observer(scene.taskbar_log)); });
    HWND secondary = add_secondary(scene, WS_EX_TRANSPARENT);
    ShellThreadHold hold = hold_shell_thread(hung_thread.thread);

    const auto restore = timed_restore_on(scene, {.appbar_state = 2, .windows = {}});

    EXPECT_EQ(restore.result, std::unexpected(unanswered));
    EXPECT_LT(restore.elapsed, five_seconds);
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_TRUE(trace_of(events, primary).empty());
    EXPECT_EQ(trace_of(events, secondary), restored_trace(WS_EX_TRANSPARENT, 0));
    // Once the shell answers again it gets what was already sent to it, and nothing else.
    release_hold(hold);
    invoke(hung_thread.thread, [] {});
    EXPECT_TRUE(app_bar_calls(shell_events(scene.taskbar_log)).empty());
}

TEST(TaskbarRestoreUnanswered, ManyThreadsThatNeverAnswerCostNoMoreThanFiveSeconds) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    ThreadOfTheShell threads[] = {ThreadOfTheShell(scene), ThreadOfTheShell(scene),
                                  ThreadOfTheShell(scene), ThreadOfTheShell(scene)};
    std::vector<ShellThreadHold> holds;
    for (auto& owner : threads) {
        add_window_on(owner, scene,
                      {.kind = TaskbarKind::secondary, .ex_style = WS_EX_TRANSPARENT});
        holds.push_back(hold_shell_thread(owner.thread));
    }

    const auto restore = timed_restore_on(scene, {.appbar_state = 1, .windows = {}});

    EXPECT_EQ(restore.result, std::unexpected(unanswered));
    EXPECT_LT(restore.elapsed, five_seconds);
    EXPECT_EQ(trace_of(shell_events(scene.taskbar_log), primary),
              restored_trace(WS_EX_TRANSPARENT, 0));
}

TEST(TaskbarRestoreUnanswered, ATaskbarThatStallsForASecondIsStillRestored) {
    Scene scene;
    HWND primary = add_primary(scene, WS_EX_TRANSPARENT);
    HWND stalling = add_secondary(scene, WS_EX_TRANSPARENT);
    add_app_bar_observer(scene);
    bool stalled = false;
    set_shell_reaction(scene.taskbar_log, [&](const ShellEvent& event) {
        if (event.window == stalling && event.kind == ShellEventKind::ex_style_changing &&
            !stalled) {
            stalled = true;
            Sleep(1000);
        }
    });

    const auto restore = timed_restore_on(scene, {.appbar_state = 2, .windows = {}});
    set_shell_reaction(scene.taskbar_log, nullptr);

    EXPECT_TRUE(restore.result.has_value()) << restore.result.error();
    EXPECT_GE(restore.elapsed, std::chrono::milliseconds(1000));
    const auto events = shell_events(scene.taskbar_log);
    EXPECT_EQ(trace_of(events, stalling), restored_trace(WS_EX_TRANSPARENT, 0));
    expect_single_app_bar_state(events, primary, 2);
}

} // namespace
} // namespace watchdog::testing
