// The demo page in a real browser: headless Chromium (driven by tests/browser/*.mjs) against
// `zelvorn serve` and nginx on 127.0.0.1.
#include "ServeProcess.h"
#include "ZelvornProcess.h"

#include "common/NginxServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string sha256(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::ostringstream hex;
    for (unsigned int i = 0; i < length; ++i)
        hex << std::hex << (digest[i] >> 4) << (digest[i] & 15);
    return hex.str();
}

// A page written for the in-process control: it only knows ActiveXObject, recvMessage and
// postMessage, and loads zelvorn.js from the host.
std::string legacyPage(const std::string& host)
{
    return R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>waiting</title>
<script src=")" +
           host + R"(/zelvorn.js"></script></head><body><pre id="result"></pre><script>
var seen = [];
try { new ActiveXObject("Other.Thing"); seen.push("created Other.Thing"); }
catch (e) { seen.push("refused Other.Thing"); }
var control = new ActiveXObject("Dravik.DownloaderPartition");
control.recvMessage = function (json) {
  var event = JSON.parse(json);
  seen.push(event.name + " " + control.Version);
  document.getElementById("result").textContent = seen.join("\n");
  if (event.name === "load_complete") control.FireRecvMessage('{"name":"echo"}');
  if (event.name === "echo") document.title = "done";
};
control.postMessage('{"name":"init","config":{"ThreadCount":1}}');
</script></body></html>
)";
}

// A page that only watches its connection: from an origin serve does not allow, zelvorn.js must
// pass the refusal on and give up, and connect again once the page has asked for access and the
// user allowed it.
std::string watchingPage(const std::string& host)
{
    return R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>waiting</title>
<script src=")" +
           host + R"(/zelvorn.js"></script></head><body><pre id="calls"></pre><script>
var calls = [];
var control = new Zelvorn();
control.onconnection = function (connected, resumed, why) {
  calls.push(connected ? "connected" : why.code + " " + why.retrying + " " + why.reason);
  document.getElementById("calls").textContent = calls.join("\n");
  if (why && !why.retrying) document.title = "gave up";
  if (connected) document.title = "connected";
};
</script></body></html>
)";
}

// A port of 127.0.0.1 that nothing listens on now.
uint16_t freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

// A page written for the in-process control that downloads one file and keeps no state: it
// relies on its control alone (through zelvorn.js) to carry its task through whatever happens.
std::string legacyDownloadPage(const std::string& script, const std::string& url)
{
    return R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>waiting</title>
<script src=")" +
           script + R"("></script></head><body><pre id="log"></pre><script>
var control = new ActiveXObject("Dravik.DownloaderPartition");
control.recvMessage = function (json) {
  var event = JSON.parse(json);
  document.getElementById("log").textContent += json;
  if (event.id === 1 && event.name === "down_complete") document.title = "done";
};
control.postMessage('{"name":"init","config":{"ThreadCount":1}}');
control.postMessage('{"name":"add_file","id":1,"fileUrl":")" +
           url + R"("}');
control.postMessage('{"name":"start_queue"}');
</script></body></html>
)";
}

}  // namespace

TEST(BrowserDemoPage, DownloadsStopsReloadsAndResumesByteIdentical)
{
    TempFolder site, downloads;
    const std::string small = TempFolder::pattern(300 * 1024);
    const std::string big = TempFolder::pattern(6 * 1024 * 1024 + 123);
    site.writeFile("small.bin", small);
    site.writeFile("big.bin", big);
    // Slow enough that the big file is still running when the page stops it.
    NginxServer nginx(site.path(), true, 1536 * 1024);
    const std::string nginxOrigin = nginx.url("");
    // The desktop, stood in for by a zenity that logs its question and answers yes.
    TempFolder bin;
    bin.writeFile("zenity", "#!/bin/sh\necho \"$*\" >>'" + bin.file("questions") + "'\n");
    chmod(bin.file("zenity").c_str(), 0755);
    ServeProcess serve({"--allow-origin", nginxOrigin}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()},
                                                         {"DISPLAY", ":7"},
                                                         {"PATH", bin.path().string() + ":" + std::getenv("PATH")}});
    site.writeFile("legacy.html", legacyPage(serve.origin()));
    site.writeFile("watching.html", watchingPage(serve.origin()));
    // The same server under another name is another origin, which serve was not told to allow.
    std::string refused = nginx.url("/watching.html");
    refused.replace(refused.find("127.0.0.1"), 9, "localhost");

    const std::filesystem::path output = ZV_BINARY_DIR "/tests/output";
    std::filesystem::create_directories(output);
    const std::string screenshot = (output / "demo-page.png").string();
    std::filesystem::remove(screenshot);
    const std::string job = R"({"page":")" + serve.origin() + R"(/","folder":")" + downloads.path().string() +
                            R"(","small":")" + nginx.url("/small.bin") + R"(","big":")" + nginx.url("/big.bin") +
                            R"(","legacy":")" + nginx.url("/legacy.html") + R"(","refused":")" + refused +
                            R"(","screenshot":")" + screenshot + "\"}";
    const std::string log = site.file("browser.log");
    const std::string command =
        "node '" ZV_SOURCE_DIR "/tests/browser/demo-page.mjs' '" + job + "' >'" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string steps = TempFolder::readFile(log);
    ASSERT_EQ(status, 0) << steps << "\nzelvorn serve:\n" << serve.errors();

    EXPECT_EQ(sha256(TempFolder::readFile(downloads.path() / "small.bin")), sha256(small));
    EXPECT_EQ(sha256(TempFolder::readFile(downloads.path() / "big.bin")), sha256(big)) << steps;
    // The resumed run asked only for the rest: "<connection> GET /big.bin HTTP/1.1 bytes=<from>-<last>".
    const std::string requests = TempFolder::readFile(nginx.accessLog());
    std::smatch range;
    ASSERT_TRUE(std::regex_search(requests, range, std::regex(R"(GET /big\.bin HTTP/1\.1 bytes=(\d+)-(\d+))")))
        << requests;
    EXPECT_GT(std::stoll(range[1]), 0);
    EXPECT_EQ(std::stoll(range[2]), static_cast<long long>(big.size()) - 1);
    EXPECT_NE(TempFolder::readFile(bin.file("questions")).find("Let pages of " + refused.substr(0, refused.rfind('/'))),
              std::string::npos)
        << "the user was asked about the refused page's origin";
    const std::string png = TempFolder::readFile(screenshot);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// Two tabs of the demo page and a legacy page download at once from a slow nginx; one tab
// reloads mid-download, the other loses its connection for a few seconds, and the host is
// killed and started again. Every page sees each of its tasks complete once and no error, every
// file is whole and byte-identical, none was fetched again from its start, and the task the user
// stopped stays stopped. (tests/browser/sessions.mjs drives the browser and the host.)
TEST(BrowserSessions, TabsAndALegacyPageLoseNothingThroughReloadsLostConnectionsAndAHostRestart)
{
    TempFolder site, downloads, registry;
    std::map<std::string, std::string> bodies;
    for (const char* name : {"s", "f1", "f2", "g1", "g2", "l1"})
        bodies[name] = TempFolder::pattern(10 * 1024 * 1024 + static_cast<size_t>(name[1]));
    for (const auto& [name, body] : bodies)
        site.writeFile(name + ".bin", body);
    NginxServer nginx(site.path(), true, 1024 * 1024);
    const uint16_t proxy = freePort();
    const std::string proxyOrigin = "http://127.0.0.1:" + std::to_string(proxy);
    site.writeFile("legacy.html", legacyDownloadPage(proxyOrigin + "/zelvorn.js", nginx.url("/l1.bin")));
    ASSERT_TRUE(ZelvornProcess::registerControl(registry));

    const std::filesystem::path output = ZV_BINARY_DIR "/tests/output";
    std::filesystem::create_directories(output);
    std::string files;
    for (const auto& [name, body] : bodies)
        files += (files.empty() ? "" : ",") + ("\"" + name + "\":\"" + nginx.url("/" + name + ".bin") + "\"");
    const std::string job = R"({"zelvorn":")" ZV_BINARY_DIR R"(/app/zelvorn","proxy":)" + std::to_string(proxy) +
                            R"(,"nginx":")" + nginx.url("") + R"(","folder":")" + downloads.path().string() +
                            R"(","legacy":")" + nginx.url("/legacy.html") + R"(","screenshot":")" +
                            (output / "sessions.png").string() + R"(","files":{)" + files + "}}";
    ZelvornProcess::Options options;
    options.program = "/usr/bin/node";
    options.environment = {{"XDG_DOWNLOAD_DIR", downloads.path().string()}};
    ZelvornProcess browser(registry, {ZV_SOURCE_DIR "/tests/browser/sessions.mjs", job}, options);
    ASSERT_TRUE(browser.exited(std::chrono::minutes(4))) << browser.out();
    ASSERT_EQ(browser.wait(), 0) << browser.out() << browser.err();

    // Whole and byte-identical; the stopped one a true beginning of its file; nothing else.
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(downloads.path()))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, (std::set<std::string>{"s.bin", "f1.bin", "f2.bin", "g1.bin", "g2.bin", "l1.bin"}));
    for (const auto& [name, body] : bodies) {
        const std::string got = TempFolder::readFile(downloads.path() / (name + ".bin"));
        if (name == "s") {
            EXPECT_TRUE(!got.empty() && got.size() < body.size() && body.compare(0, got.size(), got) == 0);
        } else {
            EXPECT_EQ(sha256(got), sha256(body)) << name;
        }
    }
    // No file came twice: one request from its start, the others for the rest only.
    const std::string requests = TempFolder::readFile(nginx.accessLog());
    for (const auto& [name, body] : bodies) {
        const std::regex request(R"(GET /)" + name + R"(\.bin HTTP/1\.1 (\S+))");
        int whole = 0, parts = 0;
        for (auto it = std::sregex_iterator(requests.begin(), requests.end(), request); it != std::sregex_iterator();
             ++it)
            ++((*it)[1] == "-" ? whole : parts);
        EXPECT_EQ(whole, 1) << name << "\n" << requests;
        if (name == "s") {
            EXPECT_EQ(parts, 0) << "the stopped task ran again\n" << requests;
        }
    }
}
