#include "GetCommand.h"

#include "FolderListing.h"
#include "GetSession.h"
#include "ProgressView.h"
#include "host/StopRequest.h"
#include "host/StopSignals.h"
#include "hosting/Protocol.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

const char* const kGetUsage =
    "zelvorn get URL... [-d DIR] [-j N] [--cookie TEXT] [--folder LISTING.json]...\n"
    "           -d DIR                 download into DIR (default: the current folder)\n"
    "           -j N                   run up to N downloads at once, 1 to 5 (default: 1)\n"
    "           --cookie TEXT          send TEXT as the Cookie header\n"
    "           --folder LISTING.json  download the folder a listing describes; may be repeated";

namespace {

namespace M = Protocol::Member;

struct Options {
    std::vector<std::string> urls;
    std::vector<std::string> listings;
    std::string folder = ".";
    int jobs = 1;
    std::string cookie;
};

// The signal thread outlives any command run: the request it uses is never destroyed.
StopRequest& stopRequest()
{
    static StopRequest* request = new StopRequest();
    return *request;
}

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "zelvorn get: %s\nusage: %s\n", problem.c_str(), kGetUsage);
    return 2;
}

bool isHttpUrl(const std::string& text)
{
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

// Reads the arguments after "get"; "" when they are right, else what is wrong.
std::string parse(int argc, char** argv, Options& options)
{
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool takesValue =
            argument == "-d" || argument == "-j" || argument == "--cookie" || argument == "--folder";
        if (takesValue && i + 1 >= argc)
            return argument + " needs a value";
        if (argument == "-d") {
            options.folder = argv[++i];
        } else if (argument == "-j") {
            const std::string value = argv[++i];
            char* end = nullptr;
            const long jobs = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || jobs < 1 || jobs > Protocol::kMaxThreadCount)
                return "-j takes a number from 1 to " + std::to_string(Protocol::kMaxThreadCount);
            options.jobs = static_cast<int>(jobs);
        } else if (argument == "--cookie") {
            options.cookie = argv[++i];
        } else if (argument == "--folder") {
            options.listings.push_back(argv[++i]);
            if (std::count(options.listings.begin(), options.listings.end(), options.listings.back()) > 1)
                return "the listing " + options.listings.back() + " is given twice";
        } else if (isHttpUrl(argument)) {
            // One download per URL: two would claim one sidecar and one file.
            if (std::find(options.urls.begin(), options.urls.end(), argument) != options.urls.end())
                return "the URL " + argument + " is given twice";
            options.urls.push_back(argument);
        } else {
            return argument[0] == '-' ? "unknown option " + argument : "not an http or https URL: " + argument;
        }
    }
    if (options.urls.empty() && options.listings.empty())
        return "nothing to download: give a URL or --folder";
    return "";
}

}  // namespace

int runGet(int argc, char** argv)
{
    StopSignals::start([](int signal) { stopRequest().ask(signal); });
    Options options;
    const std::string problem = parse(argc, argv, options);
    if (!problem.empty())
        return usageError(problem);

    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    const std::string folder = std::filesystem::absolute(options.folder, error).lexically_normal().string();
    if (error || !std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "zelvorn: %s is no folder that downloads can go to\n", options.folder.c_str());
        return 1;
    }
    // The control joins names to the folder with one separator of its own.
    const std::string root = folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;

    std::vector<FolderListing> listings;
    for (const auto& file : options.listings) {
        FolderListing listing;
        std::string why;
        if (!listing.read(file, why)) {
            std::fprintf(stderr, "zelvorn: the listing %s %s\n", file.c_str(), why.c_str());
            return 1;
        }
        for (const auto& other : listings)
            if (other.name() == listing.name())
                return usageError("two listings name the folder " + listing.name());
        listings.push_back(listing);
    }
    std::vector<GetTask> tasks;
    for (const auto& url : options.urls)
        tasks.emplace_back(static_cast<int>(tasks.size()) + 1, root, url);
    for (const auto& listing : listings)
        tasks.emplace_back(static_cast<int>(tasks.size()) + 1, root, listing);
    // Each download holds its sidecar open for the whole run.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    Json::Value init;
    init[M::name] = Protocol::Command::init;
    Json::Value& config = init[M::config];
    config[Protocol::Setting::folder] = root;
    config[Protocol::Setting::threadCount] = options.jobs;
    config[Protocol::Setting::cookie] = options.cookie;
    ProgressView view(stdout, stderr);
    GetSession session(std::move(tasks), root, view);
    return session.run(init, stopRequest());
}
