// The sample extension (examples/extension) in a real browser: headless Chromium loads it
// unpacked (driven by tests/browser/extension.mjs), `zelvorn native` is registered for its ID,
// and its page downloads a file from nginx through the host.
#include "ZelvornProcess.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The ID Chromium gives the extension, from the "key" in its manifest.
const std::string kExtensionId = "clemooepdbgpigpammldlkedjbohjcme";

}  // namespace

TEST(BrowserExtension, ItsPageDownloadsThroughTheNativeHostByteIdentical)
{
    TempFolder work, site;
    const std::string body = TempFolder::pattern(3 * 1024 * 1024 + 5);
    site.writeFile("file.bin", body);
    NginxServer nginx(site.path());
    ASSERT_TRUE(ZelvornProcess::registerControl(work));
    // Into the profile the browser runs with: Chromium reads user host manifests from its own
    // profile folder.
    ZelvornProcess::Options options;
    options.environment = {{"XDG_DATA_HOME", work.file("data")}};
    ZelvornProcess registration(work, {"register-browser", "--extension-id", kExtensionId}, options);
    ASSERT_EQ(registration.wait(), 0) << registration.err();

    // The browser, and the host it starts, see the test's registry and folders.
    const std::string downloads = work.file("downloads");
    std::filesystem::create_directories(downloads);
    const std::string environment = "ZELVORN_REGISTRY_USER='" + work.file("user.json") +
                                    "' ZELVORN_REGISTRY_MACHINE='" + work.file("machine.json") + "' XDG_CONFIG_HOME='" +
                                    work.file("config") + "' XDG_STATE_HOME='" + work.file("state") +
                                    "' XDG_DOWNLOAD_DIR='" + downloads + "' HOME='" + work.file("home") + "'";
    const std::string job = R"({"extension":")" ZV_SOURCE_DIR R"(/examples/extension","profile":")" +
                            work.file("config/chromium") + R"(","id":")" + kExtensionId + R"(","url":")" +
                            nginx.url("/file.bin") + "\"}";
    const std::string log = work.file("browser.log");
    const std::string command = "env " + environment + " node '" ZV_SOURCE_DIR "/tests/browser/extension.mjs' '" + job +
                                "' >'" + log + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << TempFolder::readFile(log);
    EXPECT_TRUE(TempFolder::readFile(downloads + "/file.bin") == body) << TempFolder::readFile(log);
}
