#include "TransferRecorder.h"
#include "common/FixtureServer.h"
#include "net/HttpDowner.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs one request on its own thread (the worker), and stops it from the test's thread.
struct WorkerTransfer {
    HttpDowner downer;
    TransferRecorder recorder{downer};
    std::shared_ptr<boost::atomic<bool>> stop = std::make_shared<boost::atomic<bool>>(false);
    std::future<bool> result;

    explicit WorkerTransfer(const std::string& url)
    {
        downer.verb = L"GET";
        downer.stopFlag = stop;
        result = std::async(std::launch::async, [this, url] { return downer.request(fromUtf8(url), L""); });
    }

    // Time from the stop to the end of request(); the request must still be running before it.
    std::chrono::milliseconds stopAndMeasure(bool withCloseHandles)
    {
        EXPECT_EQ(result.wait_for(300ms), std::future_status::timeout) << "ended before the stop";
        const auto start = Clock::now();
        *stop = true;
        if (withCloseHandles)
            downer.closeHandles();
        EXPECT_EQ(result.wait_for(10s), std::future_status::ready);
        const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_FALSE(result.get());
        return latency;
    }
};

bool eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(10ms);
    return condition();
}

}  // namespace

TEST(HttpDownerStopConcurrency, StopEndsAStalledBodyPromptly)
{
    FixtureServer server;
    FixtureResponse stalled = FixtureResponse::file(std::string(1000, 'x'));
    stalled.stall = FixtureResponse::Stall::afterHeaders;
    server.on("/stalled", stalled);

    for (bool withCloseHandles : {true, false}) {
        WorkerTransfer t(server.url("/stalled"));
        ASSERT_TRUE(eventually([&] { return t.recorder.bodyStarted.load(); }));
        EXPECT_LT(t.stopAndMeasure(withCloseHandles), 2s) << withCloseHandles;
        EXPECT_EQ(t.recorder.blocks.load(), 0);
    }
}

TEST(HttpDownerStopConcurrency, StopEndsAWaitForHeadersOrForAConnection)
{
    FixtureServer silentHttp;
    FixtureResponse noHeaders = FixtureResponse::file("x");
    noHeaders.stall = FixtureResponse::Stall::beforeHeaders;
    silentHttp.on("/wait", noHeaders);
    FixtureServer silentTls(FixtureServer::Mode::silent);
    FixtureServer unaccepting(FixtureServer::Mode::neverAccepts);

    const std::vector<std::string> urls = {
        silentHttp.url("/wait"),                                          // request sent, no answer
        "https://127.0.0.1:" + std::to_string(silentTls.port()) + "/x",   // TLS handshake unanswered
        "http://127.0.0.1:" + std::to_string(unaccepting.port()) + "/x",  // TCP connect not completed
    };
    for (const std::string& url : urls) {
        WorkerTransfer t(url);
        EXPECT_LT(t.stopAndMeasure(true), 2s) << url;
        EXPECT_EQ(t.recorder.summary().find("body"), std::string::npos);
    }
}

TEST(HttpDownerStopConcurrency, CloseHandlesBeforeOrAfterTheRequestIsHarmless)
{
    FixtureServer server;
    server.on("/x", FixtureResponse::file("data"));

    HttpDowner closedEarly;
    closedEarly.closeHandles();
    EXPECT_FALSE(closedEarly.request(fromUtf8(server.url("/x")), L""));

    HttpDowner closedLate;
    EXPECT_TRUE(closedLate.request(fromUtf8(server.url("/x")), L""));
    closedLate.closeHandles();
    closedLate.closeHandles();
}

TEST(HttpDownerStopConcurrency, CloseHandlesRacingTheEndOfTheRequest)
{
    FixtureServer server;
    const std::string body(64 * 1024, 'z');
    server.on("/x", FixtureResponse::file(body));

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayMicros(0, 3000);
    int completed = 0, interrupted = 0;
    for (int i = 0; i < 60; ++i) {
        HttpDowner downer;
        TransferRecorder recorder(downer);
        std::thread stopper([&, delay = delayMicros(random)] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            downer.closeHandles();
        });
        const bool ok = downer.request(fromUtf8(server.url("/x")), L"");
        stopper.join();
        if (ok) {
            ++completed;
            EXPECT_EQ(recorder.body, body);
        } else {
            ++interrupted;
            EXPECT_LE(recorder.body.size(), body.size());
        }
    }
    EXPECT_EQ(completed + interrupted, 60);
}
