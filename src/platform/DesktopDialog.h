// DesktopDialog: one dialog of the desktop's own programs, zenity or kdialog, run as a child
// process whose standard output is read. A dialog can be shown only on a desktop (DISPLAY or
// WAYLAND_DISPLAY set) and with the program installed.
//
// run() blocks its thread while the dialog is open; another thread may end it through an Ending.
// Any thread.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

namespace DesktopDialog {

struct Result {
    enum class Outcome { answered, missing };
    Outcome outcome = Outcome::missing;  // missing: the program is not installed
    int status = -1;                     // its exit status; -1 when a signal ended it
    std::string output;                  // its standard output, without the final line ends
};

// Shared by the thread that runs dialogs and one that may end them. The child is ended under
// `lock` and reaped only after run() has let it go there, so a signal never reaches a process
// that has taken over a reaped child's id.
class Ending {
public:
    // Ends the dialog open now, if any.
    void interrupt();
    // Ends the dialog open now, and every later one as soon as it starts.
    void end();

private:
    friend struct Run;
    std::mutex lock;
    pid_t child = 0;     // guarded by lock: the dialog open now
    bool ended = false;  // guarded by lock
};

// "" when a desktop is there to show a dialog on, else why not.
std::string whyNoDesktop();
// Runs `args` (the program first, looked for in PATH); `ending`, when given, may end it.
Result run(const std::vector<std::string>& args, Ending* ending = nullptr);

}  // namespace DesktopDialog
