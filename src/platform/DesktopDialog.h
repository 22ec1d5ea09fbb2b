// DesktopDialog: one dialog of the desktop's own programs, zenity or kdialog, run as a child
// process whose standard output is read. A dialog can be shown only on a desktop (DISPLAY or
// WAYLAND_DISPLAY set) and with the program installed.
//
// Stateless; any thread. run() blocks its thread while the dialog is open; `running`, when given,
// holds the child's process id meanwhile (0 otherwise), so that another thread may end it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

namespace DesktopDialog {

struct Result {
    enum class Outcome { answered, missing };
    Outcome outcome = Outcome::missing;  // missing: the program is not installed
    int status = -1;                     // its exit status; -1 when a signal ended it
    std::string output;                  // its standard output, without the final line ends
};

// "" when a desktop is there to show a dialog on, else why not.
std::string whyNoDesktop();
// Runs `args` (the program first, looked for in PATH).
Result run(const std::vector<std::string>& args, std::atomic<pid_t>* running = nullptr);

}  // namespace DesktopDialog
