// Which origins may use `zelvorn serve`: the user's and the machine's settings files, managed by
// `zelvorn origins`, followed by a running serve at every handshake; and the question a page may
// have serve put to the user, here to a stand-in for zenity first on PATH.
#include "PageClient.h"
#include "ServeProcess.h"
#include "SessionClient.h"
#include "ZelvornProcess.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <json/value.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "support/JsonText.h"

namespace {

const char* const kInit = R"({"name":"init","config":{"ThreadCount":1}})";

// The files every run of a test shares: the user's and the machine's settings.
struct Files {
    TempFolder dir;
    std::string user() const { return dir.file("user/settings.json"); }
    std::string machine() const { return dir.file("machine.json"); }
    std::map<std::string, std::string> environment() const
    {
        return {{"ZELVORN_SETTINGS", user()}, {"ZELVORN_MACHINE_SETTINGS", machine()}};
    }
    // `zelvorn origins WORDS...`: its status, with what it printed in `out` and `err`.
    int origins(const std::vector<std::string>& words, std::string* out = nullptr, std::string* err = nullptr) const
    {
        std::vector<std::string> arguments{"origins"};
        arguments.insert(arguments.end(), words.begin(), words.end());
        ZelvornProcess::Options options;
        options.environment = environment();
        ZelvornProcess run(dir, arguments, options);
        const int status = run.wait();
        if (out)
            *out = run.out();
        if (err)
            *err = run.err();
        return status;
    }
    Json::Value userJson() const
    {
        Json::Value value;
        EXPECT_TRUE(parseJson(TempFolder::readFile(user()), value)) << TempFolder::readFile(user());
        return value;
    }
};

// A page of `origin` asks serve for access: the close code and reason it gets.
std::pair<int, std::string> askAccess(const ServeProcess& serve, const std::string& origin)
{
    PageClient page(serve.port(), origin, "", "/access");
    EXPECT_TRUE(page.open()) << origin;
    EXPECT_FALSE(page.read());
    return {page.closeCode(), page.closeReason()};
}

bool controlOpens(const ServeProcess& serve, const std::string& origin)
{
    PageClient page(serve.port(), origin);
    page.send(kInit);
    return page.read().has_value();
}

size_t count(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// Waits up to 10 s for `done`.
bool comes(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

// A zenity that logs each question, waits while the file "hold" exists, and answers with the
// exit status in the file "answer".
struct DesktopStandIn {
    TempFolder bin;
    DesktopStandIn()
    {
        const std::string script = "#!/bin/sh\necho \"$*\" >>'" + bin.file("questions") + "'\nwhile [ -e '" +
                                   bin.file("hold") + "' ]; do sleep 0.05; done\nexit $(cat '" + bin.file("answer") +
                                   "')\n";
        bin.writeFile("zenity", script);
        chmod(bin.file("zenity").c_str(), 0755);
        answer(1);
    }
    void answer(int status) const { bin.writeFile("answer", std::to_string(status)); }
    void hold() const { bin.writeFile("hold", ""); }
    void release() const { std::filesystem::remove(bin.file("hold")); }
    std::string questions() const { return TempFolder::readFile(bin.file("questions")); }
    bool asked(const std::string& origin) const
    {
        return comes([&] { return questions().find(origin) != std::string::npos; });
    }
    std::map<std::string, std::string> environment(const Files& files) const
    {
        auto variables = files.environment();
        variables["DISPLAY"] = ":7";
        variables["PATH"] = bin.path().string() + ":" + std::getenv("PATH");
        return variables;
    }
};

}  // namespace

// The command changes the user's file only in the origin's "access", whatever else it holds;
// `list` says which file's choice counts; a bad origin or a damaged file changes nothing.
TEST(Origins, TheCommandKeepsTheSettingsFileAndItsOtherMembers)
{
    Files files;
    files.dir.writeFile("user/settings.json",
                        R"({"downloadRoots":["/srv/shared"],"origins":{"https://a.example":{"downloadRoots":["/x"]},)"
                        R"("https://B.example":{"access":"allow"}}})");
    files.dir.writeFile("machine.json",
                        R"({"origins":{"https://a.example":{"access":"deny"},)"
                        R"("https://b.example":{"access":"deny"},"https://m.example":{"access":"allow"}}})");
    std::string out, err;
    ASSERT_EQ(files.origins({"list"}, &out, &err), 0) << err;
    EXPECT_EQ(out, "deny  https://a.example (" + files.machine() + ")\nallow https://b.example (" + files.user() +
                       ")\nallow https://m.example (" + files.machine() + ")\n");

    ASSERT_EQ(files.origins({"allow", "HTTPS://A.Example"}, &out, &err), 0) << err;
    Json::Value user = files.userJson();
    EXPECT_EQ(user["downloadRoots"][0].asString(), "/srv/shared");
    EXPECT_EQ(user["origins"]["https://a.example"]["downloadRoots"][0].asString(), "/x");
    EXPECT_EQ(user["origins"]["https://a.example"]["access"].asString(), "allow");
    ASSERT_EQ(files.origins({"deny", "https://b.example"}), 0);
    user = files.userJson();
    EXPECT_FALSE(user["origins"].isMember("https://B.example")) << "another spelling would decide on";
    ASSERT_EQ(files.origins({"list"}, &out), 0);
    EXPECT_NE(out.find("allow https://a.example (" + files.user()), std::string::npos) << out;
    EXPECT_NE(out.find("deny  https://b.example (" + files.user()), std::string::npos) << out;

    // Forgetting leaves the origin's folders, and the machine's choice counts again.
    ASSERT_EQ(files.origins({"forget", "https://a.example"}, &out), 0);
    EXPECT_NE(out.find(files.machine() + " still denies it"), std::string::npos) << out;
    user = files.userJson();
    EXPECT_FALSE(user["origins"]["https://a.example"].isMember("access"));
    EXPECT_EQ(user["origins"]["https://a.example"]["downloadRoots"][0].asString(), "/x");

    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"allow", "null"},
                                                  {"allow", "https://a.example/page"},
                                                  {"trust", "https://a.example"}}) {
        EXPECT_EQ(files.origins(wrong, nullptr, &err), 2) << wrong[0];
        EXPECT_NE(err.find("usage: zelvorn origins"), std::string::npos) << err;
    }

    const std::string damaged = R"({"downloadRoots":["/srv/shared"],)";
    files.dir.writeFile("user/settings.json", damaged);
    EXPECT_EQ(files.origins({"allow", "https://c.example"}, nullptr, &err), 1);
    EXPECT_NE(err.find("is not a JSON object; mend or remove it first"), std::string::npos) << err;
    EXPECT_EQ(TempFolder::readFile(files.user()), damaged);
    ASSERT_EQ(files.origins({"list"}, &out, &err), 0);
    EXPECT_NE(err.find(files.user() + " is not a JSON object"), std::string::npos) << err;
    EXPECT_EQ(out, "deny  https://a.example (" + files.machine() + ")\ndeny  https://b.example (" + files.machine() +
                       ")\nallow https://m.example (" + files.machine() + ")\n");
}

// serve reads the files at every handshake: the user's choice beats the machine's, a denial
// beats --allow-origin, and an origin denied while its pages are attached loses its sessions at
// once. A damaged file allows nothing, is reported once, and takes nothing down.
TEST(Origins, ServeFollowsTheFilesAndEndsTheSessionsOfADeniedOrigin)
{
    Files files;
    files.dir.writeFile("machine.json", R"({"origins":{"https://machine.example":{"access":"allow"},)"
                                        R"("https://both.example":{"access":"deny"}}})");
    files.dir.writeFile("user/settings.json", R"({"origins":{"https://both.example":{"access":"allow"}}})");
    ServeProcess serve({"--allow-origin", "https://cli.example"}, files.environment());
    for (const char* origin : {"https://machine.example", "https://both.example", "https://cli.example"})
        EXPECT_TRUE(controlOpens(serve, origin)) << origin;
    EXPECT_FALSE(controlOpens(serve, "https://other.example"));

    ASSERT_EQ(files.origins({"deny", "https://cli.example"}), 0);
    PageClient cli(serve.port(), "https://cli.example");
    EXPECT_FALSE(cli.read());
    EXPECT_EQ(cli.closeCode(), 1008);
    EXPECT_NE(cli.closeReason().find("is denied"), std::string::npos) << cli.closeReason();

    SessionClient tab(serve.port(), "https://machine.example", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "p1");
    ASSERT_TRUE(tab.hello());
    ASSERT_EQ(files.origins({"deny", "https://machine.example"}), 0);
    EXPECT_FALSE(tab.next());
    EXPECT_EQ(tab.closeCode(), 1008);
    EXPECT_EQ(tab.closeReason(), "origin \"https://machine.example\" is denied now");
    EXPECT_TRUE(comes([&] { return serve.hosts().empty(); })) << "the session's host goes with it";
    SessionClient again(serve.port(), "https://machine.example", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "p2");
    EXPECT_FALSE(again.hello());

    files.dir.writeFile("user/settings.json", "{\"origins\":");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(controlOpens(serve, "https://machine.example")) << "the machine's choice counts again";
        EXPECT_FALSE(controlOpens(serve, "https://both.example"));
        EXPECT_TRUE(controlOpens(serve, serve.origin())) << "serve's own origin is always allowed";
    }
    EXPECT_EQ(count(serve.errors(), "is not a JSON object; it allows no origin until mended"), 1u) << serve.errors();
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A page of an origin not yet known may ask; the user is asked one question at a time, a "yes"
// is stored, and after a "no" nobody is asked for a while. Opaque origins and plain http of other
// machines are never asked about, nor is anyone without a desktop.
TEST(Origins, APageMayAskTheUserOneQuestionAtATime)
{
    Files files;
    DesktopStandIn desktop;
    ServeProcess serve({}, desktop.environment(files));
    const std::vector<std::pair<std::string, std::string>> neverAsked{
        {"null", "opaque origin"},
        {"http://example.test", "https origins and http ones of this machine"},
        {"", "no Origin"}};
    for (const auto& [origin, why] : neverAsked) {
        const auto [code, reason] = askAccess(serve, origin);
        EXPECT_EQ(code, 1008) << origin;
        EXPECT_NE(reason.find(why), std::string::npos) << reason;
    }
    EXPECT_EQ(askAccess(serve, serve.origin()), std::make_pair(1000, std::string("allowed")));
    EXPECT_EQ(desktop.questions(), "");

    desktop.answer(0);
    EXPECT_EQ(askAccess(serve, "https://yes.example"), std::make_pair(1000, std::string("allowed")));
    EXPECT_NE(desktop.questions().find("Let pages of https://yes.example use Zelvorn"), std::string::npos)
        << desktop.questions();
    EXPECT_EQ(files.userJson()["origins"]["https://yes.example"]["access"].asString(), "allow");
    EXPECT_TRUE(controlOpens(serve, "https://yes.example"));
    EXPECT_EQ(askAccess(serve, "https://yes.example"), std::make_pair(1000, std::string("allowed")));

    // While one question is on screen, a page of its origin waits for the answer, any other is
    // refused without a question.
    desktop.answer(1);
    desktop.hold();
    PageClient first(serve.port(), "https://no.example", "", "/access");
    ASSERT_TRUE(desktop.asked("https://no.example"));
    PageClient second(serve.port(), "https://NO.example", "", "/access");
    const auto [code, reason] = askAccess(serve, "https://other.example");
    EXPECT_EQ(code, 1008);
    EXPECT_NE(reason.find("another origin"), std::string::npos) << reason;
    desktop.release();
    for (PageClient* page : {&first, &second}) {
        EXPECT_FALSE(page->read());
        EXPECT_EQ(page->closeCode(), 1008);
        EXPECT_EQ(page->closeReason(), "the user did not allow it");
    }
    EXPECT_FALSE(files.userJson()["origins"].isMember("https://no.example")) << "only a yes is stored";
    for (const char* origin : {"https://no.example", "https://third.example"}) {
        const auto [quietCode, quietReason] = askAccess(serve, origin);
        EXPECT_EQ(quietCode, 1008);
        EXPECT_NE(quietReason.find("turned a question down lately"), std::string::npos) << quietReason;
    }
    EXPECT_EQ(count(desktop.questions(), "Let pages of"), 2u) << desktop.questions();
    EXPECT_EQ(serve.stop(), 0) << serve.errors();

    // The stored yes holds for the next serve; stopping it ends a question still on screen instead
    // of waiting for the user.
    ServeProcess waiting({}, desktop.environment(files));
    EXPECT_TRUE(controlOpens(waiting, "https://yes.example"));
    desktop.hold();
    PageClient asking(waiting.port(), "https://late.example", "", "/access");
    ASSERT_TRUE(desktop.asked("https://late.example"));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(waiting.stop(), 0) << waiting.errors();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    desktop.release();

    auto noDesktop = files.environment();
    noDesktop["DISPLAY"] = "";
    noDesktop["WAYLAND_DISPLAY"] = "";
    ServeProcess headless({}, noDesktop);
    const auto [headlessCode, headlessReason] = askAccess(headless, "https://yes-too.example");
    EXPECT_EQ(headlessCode, 1008);
    EXPECT_NE(headlessReason.find("no desktop"), std::string::npos) << headlessReason;
    EXPECT_EQ(headless.stop(), 0) << headless.errors();
}
