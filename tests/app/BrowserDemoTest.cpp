// The demo page in a real browser: headless Chromium (driven by tests/browser/demo-page.mjs)
// against `zelvorn serve` and nginx on 127.0.0.1.
#include "ServeProcess.h"

#include "common/NginxServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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
    ServeProcess serve({"--allow-origin", nginxOrigin}, {{"XDG_DOWNLOAD_DIR", downloads.path().string()}});
    site.writeFile("legacy.html", legacyPage(serve.origin()));

    const std::filesystem::path output = ZV_BINARY_DIR "/tests/output";
    std::filesystem::create_directories(output);
    const std::string screenshot = (output / "demo-page.png").string();
    std::filesystem::remove(screenshot);
    const std::string job = R"({"page":")" + serve.origin() + R"(/","folder":")" + downloads.path().string() +
                            R"(","small":")" + nginx.url("/small.bin") + R"(","big":")" + nginx.url("/big.bin") +
                            R"(","legacy":")" + nginx.url("/legacy.html") + R"(","screenshot":")" + screenshot + "\"}";
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
    const std::string png = TempFolder::readFile(screenshot);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}
