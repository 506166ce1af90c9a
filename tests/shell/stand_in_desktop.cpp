#include "stand_in_desktop.h"

namespace watchdog::testing {

StandInDesktop::StandInDesktop() {
    create_private_desktop(desktop);
    start_shell_thread(shell, desktop);
}

StandInDesktop::~StandInDesktop() {
    invoke(shell, destroy_windows_of_this_thread);
}

} // namespace watchdog::testing
