#include "ServeCommand.h"

#include "PageServer.h"
#include "RequestPolicy.h"
#include "host/InstallLayout.h"
#include "host/StopSignals.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

const char* const kServeUsage = "zelvorn serve [--port N] [--allow-origin ORIGIN]... [--web FOLDER] [--grace SECONDS]";

namespace {

constexpr uint16_t kDefaultPort = 7480;

bool parseNumber(const char* text, long most, long& value)
{
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text && !*end && value >= 0 && value <= most;
}

int refuse(const std::string& why)
{
    std::fprintf(stderr, "zelvorn serve: %s\nusage: %s\n", why.c_str(), kServeUsage);
    return 2;
}

}  // namespace

int runServe(int argc, char** argv)
{
    PageServer::Options options;
    options.port = kDefaultPort;
    options.webRoot = InstallLayout::webRoot();
    for (int i = 2; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (std::strcmp(argv[i], "--port") == 0 && hasValue && parseNumber(argv[i + 1], 65535, value)) {
            options.port = static_cast<uint16_t>(value);
            ++i;
        } else if (std::strcmp(argv[i], "--grace") == 0 && hasValue && parseNumber(argv[i + 1], 86400, value)) {
            options.timing.grace = std::chrono::seconds(value);
            ++i;
        } else if (std::strcmp(argv[i], "--allow-origin") == 0 && hasValue) {
            const std::string origin = argv[++i];
            if (!RequestPolicy::wellFormedOrigin(origin))
                return refuse("--allow-origin \"" + origin +
                              "\" is not an origin: scheme://host[:port], without a path, e.g. http://127.0.0.1:8080");
            options.allowedOrigins.push_back(origin);
        } else if (std::strcmp(argv[i], "--web") == 0 && hasValue) {
            options.webRoot = argv[++i];
        } else {
            return refuse("unknown or incomplete option \"" + std::string(argv[i]) + "\"");
        }
    }
    std::error_code noFolder;
    if (!std::filesystem::is_directory(options.webRoot, noFolder))
        return refuse("--web " + options.webRoot.string() + ": no such folder");

    // Waited for below; blocked before the first thread starts, so every thread inherits it.
    StopSignals::block();

    PageServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "zelvorn serve: %s\n", error.c_str());
        return 1;
    }
    std::printf("Zelvorn serves its demo page at http://127.0.0.1:%u/ (Ctrl-C stops it)\n", server.port());
    std::fflush(stdout);

    StopSignals::wait();
    if (!server.stopDownloads(std::chrono::seconds(10)))
        std::fprintf(stderr, "zelvorn serve: downloads still ending after 10 s; stopping anyway\n");
    server.stop();
    return 0;
}
