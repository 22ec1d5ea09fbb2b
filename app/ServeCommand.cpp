#include "ServeCommand.h"

#include "InstallLayout.h"
#include "PageServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char* const kServeUsage = "zelvorn serve [--port N] [--allow-origin ORIGIN]... [--web FOLDER]";

namespace {

constexpr uint16_t kDefaultPort = 7480;

bool parsePort(const char* text, uint16_t& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int runServe(int argc, char** argv)
{
    PageServer::Options options;
    options.port = kDefaultPort;
    options.webRoot = InstallLayout::webRoot();
    for (int i = 2; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--port") == 0 && hasValue && parsePort(argv[i + 1], options.port)) {
            ++i;
        } else if (std::strcmp(argv[i], "--allow-origin") == 0 && hasValue) {
            options.allowedOrigins.push_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--web") == 0 && hasValue) {
            options.webRoot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s\n", kServeUsage);
            return 2;
        }
    }

    // Taken by sigwait below; blocked before the first thread starts, so every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PageServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "zelvorn serve: %s\n", error.c_str());
        return 1;
    }
    std::printf("Zelvorn serves its demo page at http://127.0.0.1:%u/ (Ctrl-C stops it)\n", server.port());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (!server.stopDownloads(std::chrono::seconds(10)))
        std::fprintf(stderr, "zelvorn serve: downloads still ending after 10 s; stopping anyway\n");
    server.stop();
    return 0;
}
