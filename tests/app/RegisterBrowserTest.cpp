// `zelvorn register-browser` writes manifests where the browsers look, and the program a manifest
// names starts the native-messaging host.
#include "ZelvornProcess.h"
#include "common/TempFolder.h"
#include "support/JsonText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kChromeId = "abcdefghijklmnopabcdefghijklmnop";
const std::string kFirefoxId = "zelvorn@example.org";

std::string frame(const std::string& body)
{
    const uint32_t length = static_cast<uint32_t>(body.size());
    std::string bytes(sizeof length, '\0');
    std::memcpy(&bytes[0], &length, sizeof length);
    return bytes + body;
}

Json::Value readJson(const fs::path& file)
{
    Json::Value value;
    EXPECT_TRUE(parseJson(TempFolder::readFile(file), value)) << file;
    return value;
}

class RegisterBrowser : public ::testing::Test {
protected:
    ZelvornProcess& run(const std::vector<std::string>& arguments, const std::string& destdir = "",
                        const std::string& dataHome = "")
    {
        ZelvornProcess::Options options;
        options.environment = {{"HOME", home.string()},
                               {"XDG_CONFIG_HOME", (home / "config").string()},
                               {"XDG_DATA_HOME", dataHome.empty() ? (home / "data").string() : dataHome},
                               {"DESTDIR", destdir}};
        std::vector<std::string> words{"register-browser"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        runs.push_back(std::make_unique<ZelvornProcess>(work, words, options));
        return *runs.back();
    }

    TempFolder work;
    const fs::path home = work.path() / "home";
    std::vector<std::unique_ptr<ZelvornProcess>> runs;
};

}  // namespace

TEST_F(RegisterBrowser, UserManifestsNameAHostThatAnswers)
{
    ZelvornProcess& registration = run({"--extension-id", kChromeId, "--extension-id", kFirefoxId});
    ASSERT_EQ(registration.wait(), 0) << registration.err();

    const fs::path chrome = home / "config/google-chrome/NativeMessagingHosts/com.dravik.zelvorn.json";
    const fs::path chromium = home / "config/chromium/NativeMessagingHosts/com.dravik.zelvorn.json";
    const fs::path firefox = home / ".mozilla/native-messaging-hosts/com.dravik.zelvorn.json";
    const fs::path launcher = home / "data/zelvorn/native-host";
    for (const auto& file : {chrome, chromium}) {
        const Json::Value manifest = readJson(file);
        EXPECT_EQ(manifest["name"].asString(), "com.dravik.zelvorn");
        EXPECT_EQ(manifest["type"].asString(), "stdio");
        EXPECT_EQ(manifest["path"].asString(), launcher.string());
        EXPECT_EQ(manifest["allowed_origins"].size(), 1u);
        EXPECT_EQ(manifest["allowed_origins"][0].asString(), "chrome-extension://" + kChromeId + "/");
        EXPECT_FALSE(manifest.isMember("allowed_extensions"));
    }
    const Json::Value manifest = readJson(firefox);
    EXPECT_EQ(manifest["path"].asString(), launcher.string());
    EXPECT_EQ(manifest["allowed_extensions"].size(), 1u);
    EXPECT_EQ(manifest["allowed_extensions"][0].asString(), kFirefoxId);
    struct stat info {};
    ASSERT_EQ(stat(launcher.c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);

    // The browser's view: it runs the manifest's program with the caller's origin and writes a frame.
    ASSERT_TRUE(ZelvornProcess::registerControl(work));
    const std::string command = "{\"name\":\"init\",\"config\":{\"Folder\":\"" + work.file("out") + "\"}}";
    ZelvornProcess::Options options;
    options.program = launcher.string();
    options.input = frame(command);
    ZelvornProcess browser(work, {"chrome-extension://" + kChromeId + "/"}, options);
    EXPECT_EQ(browser.wait(), 0) << browser.err();
    EXPECT_EQ(browser.out(), frame("{\"browser\":\"ie32\",\"name\":\"load_complete\",\"version\":\"1,2,56,31650\"}"));

    // Registered again for Chrome alone: Firefox's manifest goes with the ID it allowed. A relative
    // XDG_DATA_HOME is ignored, as XDG says: the launcher goes below the home folder.
    ZelvornProcess& chromeOnly = run({"--extension-id", kChromeId}, "", "relative/data");
    ASSERT_EQ(chromeOnly.wait(), 0) << chromeOnly.err();
    EXPECT_FALSE(fs::exists(firefox));
    const fs::path fallback = home / ".local/share/zelvorn/native-host";
    EXPECT_EQ(readJson(chrome)["path"].asString(), fallback.string());
    EXPECT_TRUE(fs::exists(fallback));

    ZelvornProcess& removal = run({"--unregister"});
    ASSERT_EQ(removal.wait(), 0) << removal.err();
    for (const auto& file : {chrome, chromium, firefox, launcher})
        EXPECT_FALSE(fs::exists(file)) << file;
    ZelvornProcess& removeFallback = run({"--unregister"}, "", "relative/data");
    ASSERT_EQ(removeFallback.wait(), 0) << removeFallback.err();
    EXPECT_FALSE(fs::exists(fallback));
    ZelvornProcess& again = run({"--unregister"});
    EXPECT_EQ(again.wait(), 0) << "nothing left to remove is no failure: " << again.err();
}

// --system writes the machine's folders; under $DESTDIR when a package is being staged, with the
// manifests naming the launcher where it will be installed. Only the browsers an ID fits get one.
TEST_F(RegisterBrowser, SystemManifestsAreStagedUnderDestdir)
{
    const fs::path stage = work.path() / "stage";
    ZelvornProcess& registration = run({"--system", "--extension-id", kFirefoxId}, stage.string());
    ASSERT_EQ(registration.wait(), 0) << registration.err();
    const Json::Value manifest = readJson(stage / "usr/lib/mozilla/native-messaging-hosts/com.dravik.zelvorn.json");
    EXPECT_EQ(manifest["path"].asString(), "/usr/local/lib/zelvorn/native-host");
    EXPECT_EQ(manifest["allowed_extensions"][0].asString(), kFirefoxId);
    EXPECT_NE(TempFolder::readFile(stage / "usr/local/lib/zelvorn/native-host")
                  .find("exec '" ZV_BINARY_DIR "/app/zelvorn' native \"$@\""),
              std::string::npos);
    EXPECT_FALSE(fs::exists(stage / "etc/opt/chrome/native-messaging-hosts/com.dravik.zelvorn.json"));
    EXPECT_FALSE(fs::exists(stage / "etc/chromium/native-messaging-hosts/com.dravik.zelvorn.json"));
    EXPECT_FALSE(fs::exists(home));
}

TEST_F(RegisterBrowser, WrongArgumentsExitTwoAndWriteNothing)
{
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                  {"--extension-id"},
                                                  {"--extension-id", "ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP"},
                                                  {"--extension-id", "not an id"},
                                                  {"--extension-id", "{------------------------------------}"},
                                                  {"--extension-id", "{0123456789abcdef0123456789abcdef0123}"},
                                                  {"--extension-id", "@example.org"},
                                                  {"--extension-id", std::string(80, 'z') + "@example.org"},
                                                  {"--extension-id", kChromeId, "--global"}}) {
        ZelvornProcess& attempt = run(wrong);
        EXPECT_EQ(attempt.wait(), 2);
        EXPECT_NE(attempt.err().find("usage: zelvorn register-browser"), std::string::npos) << attempt.err();
    }
    EXPECT_FALSE(fs::exists(home));
}
