// zelvorn: hosts the download control for pages and programs.
//
//   zelvorn stdio    one control; each line on standard input is a command text, each event
//                    is written to standard output as one line.
//   zelvorn register [--user] [--unregister] [module]
//                    registers the control's module (by default this executable's own,
//                    host/InstallLayout.h) in the machine's or, with --user, the user's hive.
//   zelvorn serve    the demo page and zelvorn.js over HTTP, a control for each page that
//                    connects over a WebSocket (serve/ServeCommand.h); with --install-user-service
//                    or --remove-user-service, its systemd user unit (serve/UserServiceCommand.h).
//   zelvorn get      resumable downloads from the command line (get/GetCommand.h).
//   zelvorn native   one control for a browser extension, over native messaging (native/NativeHost.h).
//   zelvorn page-host --origin ORIGIN --parent PID
//                    the control of one session of `serve`, which starts it (serve/PageHost.h).
//   zelvorn register-browser
//                    makes `native` known to the browsers (register/RegisterBrowserCommand.h).
//   zelvorn origins  the origins whose pages may use `serve` (serve/OriginsCommand.h).
// `--help` anywhere prints the usage to standard output.
#include "get/GetCommand.h"
#include "native/NativeHost.h"
#include "register/RegisterBrowserCommand.h"
#include "register/RegisterCommand.h"
#include "register/RegistrationCheck.h"
#include "serve/OriginsCommand.h"
#include "serve/PageHost.h"
#include "serve/ServeCommand.h"
#include "serve/UserServiceCommand.h"
#include "stdio/StdioHost.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

void printUsage(std::FILE* to)
{
    std::fprintf(to,
                 "usage: zelvorn stdio\n"
                 "       zelvorn register [--user] [--unregister] [path/to/libzelvorn2.so]\n"
                 "       %s\n"
                 "       zelvorn native\n"
                 "       %s\n"
                 "       %s\n"
                 "       %s\n"
                 "       %s\n",
                 kGetUsage, kRegisterBrowserUsage, kServeUsage, kUserServiceUsage, kOriginsUsage);
}

int usage()
{
    printUsage(stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    if (argc < 2)
        return usage();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
    }
    const bool serve = std::strcmp(argv[1], "serve") == 0;
    if (serve && wantsUserService(argc, argv))
        return runUserService(argc, argv);
    // On a thread of its own: with the registry read on the main thread before the module is
    // loaded, LeakSanitizer of this toolchain crashes at a host's exit now and then (see the
    // note on test_module in tests/CMakeLists.txt).
    for (const char* host : {"stdio", "serve", "get", "native"})
        if (std::strcmp(argv[1], host) == 0)
            std::thread(RegistrationCheck::noticeOtherUserModule).join();
    if (std::strcmp(argv[1], "stdio") == 0) {
        std::ios::sync_with_stdio(false);
        return runStdioHost(std::cin, stdout);
    }
    if (std::strcmp(argv[1], "register") == 0)
        return runRegister(argc, argv);
    if (serve)
        return runServe(argc, argv);
    if (std::strcmp(argv[1], "get") == 0)
        return runGet(argc, argv);
    if (std::strcmp(argv[1], "native") == 0)
        // Chrome passes the extension's origin; Firefox the manifest's path and the extension's id.
        return runNativeHost(STDIN_FILENO, STDOUT_FILENO, argc > 3 ? argv[3] : argc > 2 ? argv[2] : "");
    if (std::strcmp(argv[1], "page-host") == 0 && argc == 6 && std::strcmp(argv[2], "--origin") == 0 &&
        std::strcmp(argv[4], "--parent") == 0)
        return runPageHost(STDIN_FILENO, STDOUT_FILENO, argv[3], static_cast<pid_t>(std::atol(argv[5])));
    if (std::strcmp(argv[1], "register-browser") == 0)
        return runRegisterBrowser(argc, argv);
    if (std::strcmp(argv[1], "origins") == 0)
        return runOrigins(argc, argv);
    return usage();
}
