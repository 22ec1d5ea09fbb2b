#include "component/Config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(ConfigConcurrency, ReadersSeeOnlyWholeTexts)
{
    Config& config = Config::instance();
    // Texts longer than any small-string buffer, so a torn copy would mix the two.
    const std::string cookieA(200, 'a'), cookieB(300, 'b');
    const std::wstring folderA(200, L'x'), folderB(300, L'y');
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            config.setCookie(i % 2 ? cookieA : cookieB);
            config.setFolder(i % 2 ? folderA : folderB);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads < 1000) {
        const std::string cookie = config.cookie();
        const std::wstring folder = config.folder();
        ASSERT_TRUE(cookie.empty() || cookie == cookieA || cookie == cookieB);
        ASSERT_TRUE(folder.empty() || folder == folderA || folder == folderB);
        ++reads;
    }
    writer.join();

    config.setCookie("");
    config.setFolder(L"");
}
