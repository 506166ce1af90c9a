#include "desktop_icons/icon_view.h"
#include "desktop_icons/icon_visibility.h"

#include "stand_in_desktop.h"
#include "win/shell_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace watchdog::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

const std::string not_found_message = "未找到 Windows 桌面图标窗口";
const std::string not_restored_message = "Windows Explorer 未能恢复桌面图标状态";

// Six attempts of one 500 ms send and two 80 ms pauses, plus room for a busy machine.
constexpr Milliseconds worst_case_restore{3960};
constexpr Milliseconds timing_slack{1500};
// A send that the shell does not answer costs the 500 ms time-out, less timer granularity.
constexpr Milliseconds unanswered_send_minimum{450};
constexpr Milliseconds pause_after_action{80};
// Nothing to do must cost less than the shortest pause the restore knows (30 ms). The
// fastest of several runs is compared, so that one descheduled run on a loaded machine does
// not count.
constexpr Milliseconds no_wait_maximum{25};
constexpr int timing_runs = 5;

Milliseconds to_milliseconds(Clock::duration duration) {
    return std::chrono::duration_cast<Milliseconds>(duration);
}

// Visibility as the shell's own desktop sees it (IsWindowVisible is unreliable across desktops).
bool visible_on_desktop(const StandInDesktop& desktop, HWND window) {
    return on_shell(desktop, [&] { return IsWindowVisible(window) != FALSE; });
}

int events_of(StandInDesktop& desktop, IconShellEventKind kind) {
    return count_icon_shell_events(desktop.icons, kind);
}

struct TimedOutcome {
    std::expected<void, std::string> result;
    Clock::duration elapsed;
};

TimedOutcome timed_restore(const StandInDesktop& desktop, bool visible) {
    return on_desktop(desktop, [&] {
        const auto start = Clock::now();
        auto result = restore_desktop_icons(visible);
        return TimedOutcome{std::move(result), Clock::now() - start};
    });
}

struct TimedSend {
    ToggleSend result;
    Clock::duration elapsed;
};

TimedSend timed_toggle(const StandInDesktop& desktop, HWND shell_view) {
    return on_desktop(desktop, [&] {
        const auto start = Clock::now();
        const ToggleSend result = send_toggle_command(shell_view);
        return TimedSend{result, Clock::now() - start};
    });
}

std::expected<HWND, std::string>
list_view_of(const std::expected<DesktopIconWindows, std::string>& windows) {
    if (!windows) {
        return std::unexpected(windows.error());
    }
    return windows->list_view;
}

BOOL CALLBACK collect_window(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// Every top-level window of the desktop in the order in which EnumWindows visits them.
std::vector<HWND> top_levels_in_enumeration_order(const StandInDesktop& desktop) {
    return on_desktop(desktop, [] {
        std::vector<HWND> windows;
        EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
        return windows;
    });
}

bool enumerated_before(const std::vector<HWND>& order, HWND earlier, HWND later) {
    const auto first = std::ranges::find(order, earlier);
    return first != order.end() && std::find(first, order.end(), later) != order.end();
}

std::vector<HWND> descendants_in_enumeration_order(HWND parent) {
    std::vector<HWND> windows;
    EnumChildWindows(parent, collect_window, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// ---------------------------------------------------------------------------------------
// Finding the icon view

struct BuiltDesktop {
    HWND expected_view = nullptr; // null: no view may be found
    // When set, the case depends on EnumWindows visiting the first before the second.
    HWND enumerated_first = nullptr;
    HWND enumerated_second = nullptr;
};

struct DiscoveryCase {
    const char* name;
    std::function<std::expected<BuiltDesktop, std::string>(DesktopIconShell&)> build;
};

std::expected<BuiltDesktop, std::string>
expect_view(const std::expected<DesktopIconWindows, std::string>& windows) {
    const auto view = list_view_of(windows);
    if (!view) {
        return std::unexpected(view.error());
    }
    return BuiltDesktop{*view, nullptr};
}

// A top-level window of the given class holding one child of each listed class.
std::expected<HWND, std::string>
window_with_children(HWND parent, const wchar_t* class_name,
                     std::initializer_list<const wchar_t*> children, DesktopIconShell& shell) {
    auto window = create_plain_window(parent, class_name, &shell);
    if (!window) {
        return window;
    }
    for (const wchar_t* child : children) {
        if (auto created = create_plain_window(*window, child, &shell); !created) {
            return created;
        }
    }
    return window;
}

// Progman -> SHELLDLL_DefView holding only windows whose class names resemble SysListView32:
// longer, shorter, or differing in letter case. Returns the shell view.
std::expected<HWND, std::string> program_manager_with_decoy_list_views(DesktopIconShell& shell) {
    auto program_manager = create_plain_window(nullptr, L"Progman", &shell);
    if (!program_manager) {
        return program_manager;
    }
    auto shell_view = create_shell_view(*program_manager, shell);
    if (!shell_view) {
        return shell_view;
    }
    for (const wchar_t* decoy : {L"SysListView32x", L"syslistview32", L"SYSLISTVIEW32",
                                 L"SysListView3", L"xSysListView32"}) {
        if (auto created = create_plain_window(*shell_view, decoy, &shell); !created) {
            return created;
        }
    }
    return shell_view;
}

const DiscoveryCase discovery_cases[] = {
    {"ListViewUnderProgramManager",
     [](DesktopIconShell& shell) {
         return expect_view(create_program_manager_icons(shell, true));
     }},
    {"HiddenListViewIsFoundToo",
     [](DesktopIconShell& shell) {
         return expect_view(create_program_manager_icons(shell, false));
     }},
    {"ListViewUnderWorkerWhenProgramManagerHasNone",
     [](DesktopIconShell& shell) {
         return expect_view(create_worker_icons(shell, true));
     }},
    {"AnyTopLevelClassWithoutProgramManager",
     [](DesktopIconShell& shell) {
         return expect_view(create_icon_tree(shell, {.top_level_class = L"WatchdogDesktopHost"}));
     }},
    {"ListViewAsGrandchildOfShellView",
     [](DesktopIconShell& shell) {
         return expect_view(create_icon_tree(shell, {.nested_list_view = true}));
     }},
    {"ShellViewAsGrandchildOfTopLevel",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto program_manager = create_plain_window(nullptr, L"Progman", &shell);
         auto host = program_manager
                         ? create_plain_window(*program_manager, L"WatchdogHost", &shell)
                         : program_manager;
         auto shell_view = host ? create_shell_view(*host, shell) : host;
         auto view = shell_view ? create_icon_list_view(*shell_view, shell, true) : shell_view;
         if (!view) {
             return std::unexpected(view.error());
         }
         return BuiltDesktop{*view, nullptr};
     }},
    {"ProgramManagerWinsOverAnEarlierEnumeratedWindow",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         const auto program_manager = create_program_manager_icons(shell, true);
         if (!program_manager) {
             return std::unexpected(program_manager.error());
         }
         // Created later, so visited first by EnumWindows.
         const auto worker = create_icon_tree(shell, {.top_level_class = L"WorkerW"});
         if (!worker) {
             return std::unexpected(worker.error());
         }
         return BuiltDesktop{program_manager->list_view, worker->top_level,
                             program_manager->top_level};
     }},
    {"DecoyListViewsBeforeTheRealOneAreSkipped",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto shell_view = program_manager_with_decoy_list_views(shell);
         auto view = shell_view ? create_icon_list_view(*shell_view, shell, true) : shell_view;
         if (!view) {
             return std::unexpected(view.error());
         }
         // Children are enumerated in creation order: every decoy is examined first.
         if (descendants_in_enumeration_order(*shell_view).back() != *view) {
             return std::unexpected("the case needs the decoys enumerated first");
         }
         return BuiltDesktop{*view, nullptr};
     }},
    {"DecoyListViewsAloneAreNotTaken",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         if (auto shell_view = program_manager_with_decoy_list_views(shell); !shell_view) {
             return std::unexpected(shell_view.error());
         }
         return BuiltDesktop{};
     }},
    {"DecoyShellViewsAreNotTaken",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto program_manager = create_plain_window(nullptr, L"Progman", &shell);
         if (!program_manager) {
             return std::unexpected(program_manager.error());
         }
         for (const wchar_t* decoy :
              {L"shelldll_defview", L"SHELLDLL_DefViewX", L"SHELLDLL_DefVie"}) {
             auto shell_view = create_plain_window(*program_manager, decoy, &shell);
             auto view = shell_view ? create_icon_list_view(*shell_view, shell, true) : shell_view;
             if (!view) {
                 return std::unexpected(view.error());
             }
         }
         return BuiltDesktop{};
     }},
    {"OnlyTheFirstShellViewOfAWindowCounts",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto program_manager = create_plain_window(nullptr, L"Progman", &shell);
         auto empty_view =
             program_manager ? create_shell_view(*program_manager, shell) : program_manager;
         auto second_view = empty_view ? create_shell_view(*program_manager, shell) : empty_view;
         auto view = second_view ? create_icon_list_view(*second_view, shell, true) : second_view;
         if (!view) {
             return std::unexpected(view.error());
         }
         return BuiltDesktop{};
     }},
    {"WindowWhoseShellViewIsEmptyIsPassedOver",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         const auto holder = create_icon_tree(shell, {.top_level_class = L"WorkerW"});
         if (!holder) {
             return std::unexpected(holder.error());
         }
         // Created later, so visited first by EnumWindows.
         auto empty_worker = create_plain_window(nullptr, L"WorkerW", &shell);
         auto empty_view = empty_worker ? create_shell_view(*empty_worker, shell) : empty_worker;
         if (!empty_view) {
             return std::unexpected(empty_view.error());
         }
         return BuiltDesktop{holder->list_view, *empty_worker, holder->top_level};
     }},
    {"TopLevelShellViewIsNoDescendantOfItself",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto shell_view = create_shell_view(nullptr, shell);
         auto view = shell_view ? create_icon_list_view(*shell_view, shell, true) : shell_view;
         if (!view) {
             return std::unexpected(view.error());
         }
         return BuiltDesktop{};
     }},
    {"ProgramManagerWithoutShellView",
     [](DesktopIconShell& shell) -> std::expected<BuiltDesktop, std::string> {
         auto program_manager = window_with_children(nullptr, L"Progman", {L"WatchdogHost"}, shell);
         if (!program_manager) {
             return std::unexpected(program_manager.error());
         }
         return BuiltDesktop{};
     }},
    {"EmptyDesktop",
     [](DesktopIconShell&) -> std::expected<BuiltDesktop, std::string> {
         return BuiltDesktop{};
     }},
};

void check_discovery(const DiscoveryCase& row) {
    SCOPED_TRACE(row.name);
    StandInDesktop desktop;
    const auto built = on_shell(desktop, [&] { return row.build(desktop.icons); });
    ASSERT_TRUE(built.has_value()) << built.error();
    if (built->enumerated_first != nullptr) {
        ASSERT_TRUE(enumerated_before(top_levels_in_enumeration_order(desktop),
                                      built->enumerated_first, built->enumerated_second))
            << "the case needs another window order";
    }

    const auto found = on_desktop(desktop, [] { return find_desktop_icon_view(); });

    if (built->expected_view != nullptr) {
        ASSERT_TRUE(found.has_value()) << found.error();
        EXPECT_EQ(*found, built->expected_view);
    } else {
        ASSERT_FALSE(found.has_value()) << "found " << *found;
        EXPECT_EQ(found.error(), not_found_message);
    }
}

TEST(DesktopIconDiscovery, FindsExactlyTheShellsListView) {
    for (const auto& row : discovery_cases) {
        check_discovery(row);
    }
}

TEST(DesktopIconDiscoveryOrder, OfTwoQualifyingWindowsTheFirstEnumeratedWins) {
    StandInDesktop desktop;
    const auto trees = on_shell(desktop, [&] {
        std::vector<DesktopIconWindows> made;
        for (const wchar_t* name : {L"WorkerW", L"WatchdogDesktopHost"}) {
            if (auto tree = create_icon_tree(desktop.icons, {.top_level_class = name})) {
                made.push_back(*tree);
            }
        }
        return made;
    });
    ASSERT_EQ(trees.size(), 2u);
    const auto order = top_levels_in_enumeration_order(desktop);
    const bool in_creation_order = enumerated_before(order, trees[0].top_level, trees[1].top_level);
    ASSERT_TRUE(in_creation_order ||
                enumerated_before(order, trees[1].top_level, trees[0].top_level));
    const DesktopIconWindows& first = in_creation_order ? trees[0] : trees[1];

    const auto found = on_desktop(desktop, [] { return find_desktop_icon_view(); });

    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(*found, first.list_view);
}

TEST(DesktopIconDiscoveryRepeated, FindsTheViewThatReplacedAnEarlierOne) {
    StandInDesktop desktop;
    const auto first =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, true); });
    ASSERT_TRUE(first.has_value()) << first.error();
    ASSERT_EQ(on_desktop(desktop, [] { return find_desktop_icon_view(); }), first->list_view);

    const auto second = on_shell(desktop, [&] {
        DestroyWindow(first->list_view);
        return create_icon_list_view(first->shell_view, desktop.icons, true);
    });
    ASSERT_TRUE(second.has_value()) << second.error();

    EXPECT_EQ(on_desktop(desktop, [] { return find_desktop_icon_view(); }), *second);
}

struct ClassNameCase {
    std::wstring registered;
    std::string expected;
};

TEST(WindowClassName, ReadsUpToSixtyThreeUnitsAsUtf8) {
    const std::wstring a63(63, L'a');
    const std::wstring b62(62, L'b');
    const ClassNameCase cases[] = {
        {L"Progman", "Progman"},
        {a63, std::string(63, 'a')},
        {a63 + L"z", std::string(63, 'a')}, // cut: can never equal a wanted name
        {std::wstring(100, L'c'), std::string(63, 'c')},
        {L"桌面图标窗口", "桌面图标窗口"},
        {L"icons\U0001F5A5", "icons\xF0\x9F\x96\xA5"},
        // The cut falls between the halves of a surrogate pair.
        {b62 + L"\U0001F5A5", std::string(62, 'b') + "\xEF\xBF\xBD"},
        // Unpaired surrogates elsewhere: a low one alone, a high one before a letter.
        {std::wstring{L'a', wchar_t(0xDC00), L'b'}, "a\uFFFDb"},
        {std::wstring{wchar_t(0xD83D), L'c'}, "\uFFFDc"},
    };
    StandInDesktop desktop;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.expected);
        const auto window = on_shell(
            desktop, [&] { return create_plain_window(nullptr, row.registered.c_str(), nullptr); });
        if (!window) {
            ADD_FAILURE() << window.error();
            continue;
        }
        EXPECT_EQ(on_desktop(desktop, [&] { return get_window_class_name(*window); }),
                  row.expected);
    }
}

TEST(WindowClassName, NamesTheRealListViewAndNothingForAGoneWindow) {
    StandInDesktop desktop;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, true); });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    EXPECT_EQ(on_desktop(desktop, [&] { return get_window_class_name(tree->list_view); }),
              "SysListView32");
    EXPECT_EQ(on_desktop(desktop, [&] { return get_window_class_name(tree->shell_view); }),
              "SHELLDLL_DefView");

    invoke(desktop.shell, [&] { DestroyWindow(tree->list_view); });
    EXPECT_EQ(on_desktop(desktop, [&] { return get_window_class_name(tree->list_view); }),
              std::nullopt);
}

TEST(ChildWindowSearch, SearchesDescendantsOnlyAndTakesTheFirstInEnumerationOrder) {
    StandInDesktop desktop;
    struct Layout {
        HWND root = nullptr;
        HWND deep_target = nullptr;
        HWND later_target = nullptr;
    };
    const auto layout = on_shell(desktop, [&]() -> std::expected<Layout, std::string> {
        // WatchdogTarget (root) -> WatchdogHost -> WatchdogHost -> WatchdogTarget (deep),
        // then a second WatchdogTarget directly under the root, created later.
        auto root = create_plain_window(nullptr, L"WatchdogTarget", nullptr);
        auto host = root ? create_plain_window(*root, L"WatchdogHost", nullptr) : root;
        auto inner = host ? create_plain_window(*host, L"WatchdogHost", nullptr) : host;
        auto deep = inner ? create_plain_window(*inner, L"WatchdogTarget", nullptr) : inner;
        auto later = deep ? create_plain_window(*root, L"WatchdogTarget", nullptr) : deep;
        if (!later) {
            return std::unexpected(later.error());
        }
        return Layout{*root, *deep, *later};
    });
    ASSERT_TRUE(layout.has_value()) << layout.error();
    const auto descendants =
        on_desktop(desktop, [&] { return descendants_in_enumeration_order(layout->root); });
    const bool deep_first =
        enumerated_before(descendants, layout->deep_target, layout->later_target);
    ASSERT_TRUE(deep_first ||
                enumerated_before(descendants, layout->later_target, layout->deep_target));
    const HWND first_target = deep_first ? layout->deep_target : layout->later_target;

    struct Search {
        HWND parent;
        std::string class_name;
        std::optional<HWND> expected;
    };
    const Search searches[] = {
        {layout->root, "WatchdogTarget", first_target},
        {layout->root, "WatchdogHost", GetParent(GetParent(layout->deep_target))},
        // The parent's own class counts only among its descendants.
        {layout->deep_target, "WatchdogTarget", std::nullopt},
        // Whole, case-sensitive names only.
        {layout->root, "watchdogtarget", std::nullopt},
        {layout->root, "WatchdogTarge", std::nullopt},
        {layout->root, "WatchdogTargetX", std::nullopt},
        {layout->root, "", std::nullopt},
        // A null parent has no descendants, although top-level windows of the class exist
        // (on Windows, EnumChildWindows with a null parent walks the top-level windows).
        {nullptr, "WatchdogTarget", std::nullopt},
    };
    for (const auto& search : searches) {
        SCOPED_TRACE("'" + search.class_name + "' under " +
                     std::to_string(reinterpret_cast<std::uintptr_t>(search.parent)));
        EXPECT_EQ(on_desktop(
                      desktop,
                      [&] { return find_child_window_by_class(search.parent, search.class_name); }),
                  search.expected);
    }
}

// ---------------------------------------------------------------------------------------
// The toggle command

struct DeliveredCase {
    const char* name;
    ToggleBehaviour behaviour;
    bool icons_visible;
    bool visible_after;
};

void check_delivered_command(const DeliveredCase& row) {
    SCOPED_TRACE(row.name);
    StandInDesktop desktop;
    desktop.icons.behaviour = row.behaviour;
    const auto tree = on_shell(
        desktop, [&] { return create_program_manager_icons(desktop.icons, row.icons_visible); });
    ASSERT_TRUE(tree.has_value()) << tree.error();

    const auto sent = timed_toggle(desktop, tree->shell_view);

    EXPECT_EQ(sent.result, ToggleSend::answered);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::toggle_command), 1);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::stray_command), 0);
    EXPECT_EQ(visible_on_desktop(desktop, tree->list_view), row.visible_after);
}

TEST(DesktopIconToggleCommand, ADeliveredCommandSucceedsWhateverTheShellMadeOfIt) {
    const DeliveredCase cases[] = {
        {"toggled to visible", ToggleBehaviour::toggle, false, true},
        {"toggled to hidden", ToggleBehaviour::toggle, true, false},
        {"ignored", ToggleBehaviour::ignore, false, false},
    };
    for (const auto& row : cases) {
        check_delivered_command(row);
    }
}

void check_command_withheld(const wchar_t* parent_class) {
    SCOPED_TRACE(parent_class);
    StandInDesktop desktop;
    const auto view = on_shell(desktop, [&]() -> std::expected<HWND, std::string> {
        auto program_manager = create_plain_window(nullptr, L"Progman", &desktop.icons);
        auto shell_view =
            program_manager ? create_shell_view(*program_manager, desktop.icons) : program_manager;
        auto parent = shell_view ? create_plain_window(*shell_view, parent_class, &desktop.icons)
                                 : shell_view;
        return parent ? create_icon_list_view(*parent, desktop.icons, false) : parent;
    });
    ASSERT_TRUE(view.has_value()) << view.error();

    const auto restore = timed_restore(desktop, true);

    EXPECT_TRUE(restore.result.has_value()) << restore.result.error();
    EXPECT_EQ(events_of(desktop, IconShellEventKind::toggle_command), 0);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::stray_command), 0);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::shown_from_outside), 1);
    EXPECT_TRUE(visible_on_desktop(desktop, *view));
}

TEST(DesktopIconToggleCommand, GoesOnlyToAParentOfTheExactShellViewClass) {
    const wchar_t* parents[] = {L"WatchdogIconHost", L"shelldll_defview", L"SHELLDLL_DefViewX",
                                L"SHELLDLL_DefVie"};
    for (const wchar_t* parent_class : parents) {
        check_command_withheld(parent_class);
    }
}

TEST(DesktopIconToggleCommand, GivesUpOnAHungShellAfterTheTimeOut) {
    StandInDesktop desktop;
    desktop.icons.behaviour = ToggleBehaviour::hang;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, false); });
    ASSERT_TRUE(tree.has_value()) << tree.error();

    const auto sent = timed_toggle(desktop, tree->shell_view);

    EXPECT_EQ(sent.result, ToggleSend::on_its_way);
    EXPECT_GE(to_milliseconds(sent.elapsed), unanswered_send_minimum);
    EXPECT_LT(to_milliseconds(sent.elapsed), hung_command_duration + timing_slack);
    // Read through the shell thread, so only after the shell has finished with the command.
    EXPECT_EQ(
        on_shell(desktop, [&] { return events_of(desktop, IconShellEventKind::toggle_command); }),
        1);
}

// ---------------------------------------------------------------------------------------
// Restoring the visibility

struct RestoreCase {
    const char* name;
    bool wanted;
    bool initially_visible;
    ToggleBehaviour behaviour = ToggleBehaviour::toggle;
    bool nested_list_view = false;
    bool refuse_visibility_change = false;
    bool restored = true;
    int commands = 0;
    int show_window_calls = 0; // ShowWindow calls that acted, all toward the wanted state
    int views_created = 0;     // list views that the shell made while handling the command
    Milliseconds minimum_time{0};
};

constexpr Milliseconds one_pause = pause_after_action;
constexpr Milliseconds two_pauses = 2 * pause_after_action;
constexpr Milliseconds six_attempts = 6 * two_pauses;

void check_restore(const RestoreCase& row) {
    SCOPED_TRACE(row.name);
    StandInDesktop desktop;
    desktop.icons.behaviour = row.behaviour;
    const auto tree = on_shell(desktop, [&] {
        return create_icon_tree(desktop.icons, {.icons_visible = row.initially_visible,
                                                .nested_list_view = row.nested_list_view});
    });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    ASSERT_EQ(visible_on_desktop(desktop, tree->list_view), row.initially_visible);
    desktop.icons.refuse_visibility_change = row.refuse_visibility_change;

    const auto restore = timed_restore(desktop, row.wanted);

    if (row.restored) {
        EXPECT_TRUE(restore.result.has_value()) << restore.result.error();
    } else {
        ASSERT_FALSE(restore.result.has_value());
        EXPECT_EQ(restore.result.error(), not_restored_message);
    }
    const HWND current_view = desktop.icons.list_view;
    EXPECT_EQ(visible_on_desktop(desktop, current_view),
              row.restored ? row.wanted : row.initially_visible);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::toggle_command), row.commands);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::stray_command), 0);
    // SW_SHOW or SW_HIDE as wanted: a ShowWindow that acted shows up as WM_SHOWWINDOW.
    const auto toward = row.wanted ? IconShellEventKind::shown_from_outside
                                   : IconShellEventKind::hidden_from_outside;
    const auto against = row.wanted ? IconShellEventKind::hidden_from_outside
                                    : IconShellEventKind::shown_from_outside;
    EXPECT_EQ(events_of(desktop, toward), row.show_window_calls);
    EXPECT_EQ(events_of(desktop, against), 0);
    EXPECT_EQ(events_of(desktop, IconShellEventKind::list_view_created), row.views_created);
    EXPECT_EQ(current_view != tree->list_view, row.views_created > 0);
    EXPECT_GE(to_milliseconds(restore.elapsed), row.minimum_time);
    EXPECT_LE(to_milliseconds(restore.elapsed), worst_case_restore + timing_slack);
}

TEST(DesktopIconRestore, BringsTheIconsToTheWantedStateOrReportsThatItCouldNot) {
    constexpr int six = 6;
    const RestoreCase cases[] = {
        // Icons already in the wanted state get neither the command nor ShowWindow.
        {.name = "already visible", .wanted = true, .initially_visible = true},
        {.name = "already hidden", .wanted = false, .initially_visible = false},
        // The shell's command alone restores when it works.
        {.name = "the command shows",
         .wanted = true,
         .initially_visible = false,
         .commands = 1,
         .minimum_time = one_pause},
        {.name = "the command hides",
         .wanted = false,
         .initially_visible = true,
         .commands = 1,
         .minimum_time = one_pause},
        // An ignored command is followed by ShowWindow.
        {.name = "ignored, ShowWindow shows",
         .wanted = true,
         .initially_visible = false,
         .behaviour = ToggleBehaviour::ignore,
         .commands = 1,
         .show_window_calls = 1,
         .minimum_time = two_pauses},
        {.name = "ignored, ShowWindow hides",
         .wanted = false,
         .initially_visible = true,
         .behaviour = ToggleBehaviour::ignore,
         .commands = 1,
         .show_window_calls = 1,
         .minimum_time = two_pauses},
        // A command that was not answered in time is still carried out once the shell gets to it,
        // so it is never sent twice: the second attempt waits for the shell instead. A shell that
        // drops the command gets its icons from ShowWindow (ShowWindowAsync, made by the view's
        // thread once the stall is over); one that toggles late toggles once. The state is read
        // after the stall.
        {.name = "stalled, dropped, shows",
         .wanted = true,
         .initially_visible = false,
         .behaviour = ToggleBehaviour::hang,
         .commands = 1,
         .show_window_calls = 1,
         .minimum_time = hung_command_duration},
        {.name = "stalled, dropped, hides",
         .wanted = false,
         .initially_visible = true,
         .behaviour = ToggleBehaviour::hang,
         .commands = 1,
         .show_window_calls = 1,
         .minimum_time = hung_command_duration},
        {.name = "stalled, toggled late, shows",
         .wanted = true,
         .initially_visible = false,
         .behaviour = ToggleBehaviour::slow_toggle,
         .commands = 1,
         .minimum_time = hung_command_duration},
        {.name = "stalled, toggled late, hides",
         .wanted = false,
         .initially_visible = true,
         .behaviour = ToggleBehaviour::slow_toggle,
         .commands = 1,
         .minimum_time = hung_command_duration},
        // A list view not directly under the shell view gets no command: the shell view would
        // toggle the list view if it received it.
        {.name = "nested, shows",
         .wanted = true,
         .initially_visible = false,
         .nested_list_view = true,
         .show_window_calls = 1,
         .minimum_time = one_pause},
        {.name = "nested, hides",
         .wanted = false,
         .initially_visible = true,
         .nested_list_view = true,
         .show_window_calls = 1,
         .minimum_time = one_pause},
        // A view re-created by the command is found by the next attempt. The old handle reads as
        // hidden: ShowWindow on it achieves nothing, and the attempt fails after both pauses.
        {.name = "re-created, shows",
         .wanted = true,
         .initially_visible = false,
         .behaviour = ToggleBehaviour::recreate,
         .commands = 1,
         .views_created = 1,
         .minimum_time = two_pauses},
        // The old handle reads as hidden too, but a gone view confirms nothing: the next attempt
        // finds the new, hidden view.
        {.name = "re-created, hides",
         .wanted = false,
         .initially_visible = true,
         .behaviour = ToggleBehaviour::recreate,
         .commands = 1,
         .views_created = 1,
         .minimum_time = one_pause},
        // A view that never changes fails after six full attempts.
        {.name = "never shows",
         .wanted = true,
         .initially_visible = false,
         .refuse_visibility_change = true,
         .restored = false,
         .commands = six,
         .show_window_calls = six,
         .minimum_time = six_attempts},
        {.name = "never hides",
         .wanted = false,
         .initially_visible = true,
         .refuse_visibility_change = true,
         .restored = false,
         .commands = six,
         .show_window_calls = six,
         .minimum_time = six_attempts},
        // Every command replaces the view by one just as visible as before. The replaced handle
        // reads as hidden, which must not pass for hidden icons.
        {.name = "replaced, stays hidden",
         .wanted = true,
         .initially_visible = false,
         .behaviour = ToggleBehaviour::recreate_unchanged,
         .restored = false,
         .commands = six,
         .views_created = six,
         .minimum_time = six_attempts},
        {.name = "replaced, stays visible",
         .wanted = false,
         .initially_visible = true,
         .behaviour = ToggleBehaviour::recreate_unchanged,
         .restored = false,
         .commands = six,
         .views_created = six,
         .minimum_time = six * one_pause},
    };
    for (const auto& row : cases) {
        check_restore(row);
    }
}

// A shell whose view thread stops answering for good: SendMessageTimeoutW gives up on it, and
// nothing else of the restore may wait for that thread.
TEST(DesktopIconRestoreTiming, AShellThatNeverAnswersCostsNoMoreThanTheSixAttempts) {
    StandInDesktop desktop;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, false); });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    ShellThreadHold hold = hold_shell_thread(desktop.shell);

    const auto restore = timed_restore(desktop, true);

    ASSERT_FALSE(restore.result.has_value());
    EXPECT_EQ(restore.result.error(), not_restored_message);
    EXPECT_LE(to_milliseconds(restore.elapsed), worst_case_restore + timing_slack);
}

TEST(DesktopIconRestoreTiming, AShellThatStallsForASecondAndAHalfStillGetsItsIconsBack) {
    StandInDesktop desktop;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, false); });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    ShellThreadHold hold = hold_shell_thread(desktop.shell);
    std::thread releaser([&hold] {
        Sleep(1500);
        release_hold(hold);
    });

    const auto restore = timed_restore(desktop, true);
    releaser.join();

    EXPECT_TRUE(restore.result.has_value()) << restore.result.error();
    // The restore ends as soon as the shell is back, and the releaser's clock started a moment
    // before the restore's.
    EXPECT_GE(to_milliseconds(restore.elapsed), Milliseconds(1450));
    EXPECT_TRUE(visible_on_desktop(desktop, desktop.icons.list_view));
}

// A shell whose thread has not looked at its messages for five seconds counts as hung, and the
// command is refused at once without being delivered. Once the shell answers again the command
// goes out again: ShowWindow alone does not change the shell's own icon setting.
TEST(DesktopIconRestoreTiming, ACommandRefusedByAHungShellIsSentAgainOnceItAnswers) {
    StandInDesktop desktop;
    desktop.icons.refuse_outside_visibility_change = true;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, false); });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    ShellThreadHold hold = hold_shell_thread(desktop.shell);
    Sleep(5500);
    std::thread releaser([&hold] {
        Sleep(250);
        release_hold(hold);
    });

    const auto restore = timed_restore(desktop, true);
    releaser.join();

    EXPECT_TRUE(restore.result.has_value()) << restore.result.error();
    EXPECT_EQ(events_of(desktop, IconShellEventKind::toggle_command), 1);
    EXPECT_TRUE(visible_on_desktop(desktop, desktop.icons.list_view));
}

void check_left_alone_without_waiting(bool visible) {
    SCOPED_TRACE(visible ? "visible" : "hidden");
    StandInDesktop desktop;
    const auto tree =
        on_shell(desktop, [&] { return create_program_manager_icons(desktop.icons, visible); });
    ASSERT_TRUE(tree.has_value()) << tree.error();
    auto fastest = Clock::duration::max();
    for (int run = 0; run < timing_runs; ++run) {
        const auto restore = timed_restore(desktop, visible);
        ASSERT_TRUE(restore.result.has_value()) << restore.result.error();
        fastest = std::min(fastest, restore.elapsed);
    }
    EXPECT_LT(to_milliseconds(fastest), no_wait_maximum);
    EXPECT_TRUE(icon_shell_events(desktop.icons).empty());
    EXPECT_EQ(visible_on_desktop(desktop, tree->list_view), visible);
}

TEST(DesktopIconRestoreTiming, IconsAlreadyInStateAreLeftAloneWithoutWaiting) {
    for (const bool visible : {true, false}) {
        check_left_alone_without_waiting(visible);
    }
}

struct NoViewLayout {
    const char* name;
    std::function<std::expected<void, std::string>(DesktopIconShell&)> build;
};

void check_fails_at_once(const NoViewLayout& layout) {
    SCOPED_TRACE(layout.name);
    StandInDesktop desktop;
    const auto built = on_shell(desktop, [&] { return layout.build(desktop.icons); });
    ASSERT_TRUE(built.has_value()) << built.error();
    auto fastest = Clock::duration::max();
    for (const bool wanted : {true, false, true, false, true}) {
        const auto restore = timed_restore(desktop, wanted);
        ASSERT_FALSE(restore.result.has_value());
        EXPECT_EQ(restore.result.error(), not_found_message);
        fastest = std::min(fastest, restore.elapsed);
    }
    EXPECT_LT(to_milliseconds(fastest), no_wait_maximum);
    EXPECT_TRUE(icon_shell_events(desktop.icons).empty());
}

TEST(DesktopIconRestoreTiming, NoViewAnywhereFailsAtOnceWithTheSearchMessage) {
    const NoViewLayout layouts[] = {
        {"empty desktop",
         [](DesktopIconShell&) -> std::expected<void, std::string> {
             return {};
         }},
        {"program manager with an empty shell view",
         [](DesktopIconShell& shell) -> std::expected<void, std::string> {
             auto program_manager = create_plain_window(nullptr, L"Progman", &shell);
             auto shell_view =
                 program_manager ? create_shell_view(*program_manager, shell) : program_manager;
             if (!shell_view) {
                 return std::unexpected(shell_view.error());
             }
             return {};
         }},
    };
    for (const auto& layout : layouts) {
        check_fails_at_once(layout);
    }
}

} // namespace
} // namespace watchdog::testing
