#include "TransferRecorder.h"
#include "common/FixtureServer.h"
#include "common/TempFolder.h"
#include "log/Log.h"
#include "net/HttpDowner.h"
#include "platform/DeferredWake.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::wstring wide(const std::string& url)
{
    return fromUtf8(url);
}

struct Transfer {
    HttpDowner downer;
    TransferRecorder recorder{downer};
    std::shared_ptr<boost::atomic<bool>> stop = std::make_shared<boost::atomic<bool>>(false);

    Transfer()
    {
        downer.verb = L"GET";
        downer.stopFlag = stop;
    }
    bool run(const std::string& url, const std::string& headers = "")
    {
        downer.setHeaders(headers);
        return downer.request(wide(url), L"");
    }
};

}  // namespace

TEST(HttpDownerOrder, SuccessfulDownloadNotifiesInOrderAndDeliversTheBody)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(300 * 1024);
    server.on("/files/x.bin", FixtureResponse::file(body));

    Transfer t;
    EXPECT_TRUE(t.run(server.url("/files/x.bin")));
    EXPECT_EQ(t.recorder.summary(), "sent length=307200 name body data stored");
    EXPECT_EQ(t.recorder.body, body);
    EXPECT_EQ(t.recorder.names, std::vector<std::wstring>{L"x.bin"});
    EXPECT_EQ(t.downer.statusCode, 200);
    EXPECT_EQ(t.recorder.contentType, "application/octet-stream");
}

TEST(HttpDownerOrder, BodyArrivesInBlocksOfAWholeStepUpToTheCap)
{
    FixtureServer server;
    const std::string body = TempFolder::pattern(5 * 1024 * 1024 + 3);
    server.on("/big", FixtureResponse::file(body));
    Transfer t;
    EXPECT_TRUE(t.run(server.url("/big")));
    EXPECT_EQ(t.recorder.body, body);
    // curl's 16 KiB pieces are gathered, never past the cap.
    EXPECT_GT(t.recorder.largestBlock, 16u * 1024u);
    EXPECT_LE(t.recorder.largestBlock, HttpDowner::kMaxBlock);
}

TEST(HttpDownerOrder, KeptPageWakeUpsRunWhileABodyTricklesIn)
{
    // A byte every millisecond keeps the network busy without a pause. A wake-up of the page
    // kept by the worker must still run within its few milliseconds of hold, not only when the
    // body has ended.
    FixtureServer server;
    FixtureResponse trickle = FixtureResponse::file(std::string(400, 't'));
    trickle.drip = std::chrono::milliseconds(1);
    server.on("/trickle", trickle);
    Transfer t;
    size_t receivedAtWake = std::string::npos;
    {
        DeferredWake::Scope burst;
        ASSERT_TRUE(DeferredWake::defer([&] { receivedAtWake = t.recorder.body.size(); }));
        EXPECT_TRUE(t.run(server.url("/trickle")));
    }
    EXPECT_EQ(t.recorder.body, std::string(400, 't'));
    EXPECT_LT(receivedAtWake, 100u);  // a twentyfold margin for a loaded machine
}

TEST(HttpDownerOrder, PartialContentReportsTheRangeBeforeTheName)
{
    FixtureServer server;
    server.on("/r", FixtureResponse::file("0123456789").header("Content-Range", "bytes 10-19/100"));
    server.on("/twice", FixtureResponse::file("x").header("Content-Range", "bytes 1-2/3, bytes 4-4/9"));
    server.on("/star", FixtureResponse::file("x").header("Content-Range", "bytes */4096"));

    Transfer ranged;
    EXPECT_TRUE(ranged.run(server.url("/r")));
    EXPECT_EQ(ranged.recorder.summary(), "sent length=10 range=10,19,100 name body data stored");

    Transfer lastWins;
    EXPECT_TRUE(lastWins.run(server.url("/twice")));
    EXPECT_EQ(lastWins.recorder.events[2], "range=4,4,9");

    Transfer unsatisfied;  // a range the file does not have is no part of it
    EXPECT_TRUE(unsatisfied.run(server.url("/star")));
    EXPECT_EQ(unsatisfied.recorder.events[2], "name");
}

TEST(HttpDownerOrder, EmptyBodyStartsTheBodyWithoutData)
{
    FixtureServer server;
    server.on("/empty", FixtureResponse::file(""));
    Transfer t;
    EXPECT_TRUE(t.run(server.url("/empty")));
    EXPECT_EQ(t.recorder.summary(), "sent length=0 name body");
}

TEST(HttpDownerOrder, BodyCutShortStillSucceedsWithWhatArrived)
{
    FixtureServer server;
    FixtureResponse half = FixtureResponse::file(TempFolder::pattern(100000));
    half.cutAfter = 50000;
    server.on("/half", half);
    Transfer t;
    EXPECT_TRUE(t.run(server.url("/half")));
    EXPECT_EQ(t.recorder.body, TempFolder::pattern(50000));
    EXPECT_EQ(t.recorder.events[1], "length=100000");
}

TEST(HttpDownerFailures, ConnectionResetDuringTheBodyFailsWithoutANotification)
{
    FixtureServer server;
    FixtureResponse reset = FixtureResponse::file(TempFolder::pattern(1000000));
    reset.cutAfter = 100000;
    reset.resetOnCut = true;
    server.on("/reset", reset);
    Transfer t;
    EXPECT_FALSE(t.run(server.url("/reset")));
    EXPECT_EQ(t.recorder.summary().find("error"), std::string::npos);
    EXPECT_LE(t.recorder.body.size(), 100000u);
}

TEST(HttpDownerFailures, StatusOtherThan200Or206FailsWithTheCodeAndNoBody)
{
    FixtureServer server;
    for (int status : {301, 404, 416, 500}) {
        FixtureResponse response = FixtureResponse::file("nope");
        response.status = status;
        server.on("/s" + std::to_string(status), response);
        Transfer t;
        EXPECT_FALSE(t.run(server.url("/s" + std::to_string(status)))) << status;
        EXPECT_EQ(t.downer.statusCode, status);
        EXPECT_EQ(t.recorder.summary(), "sent") << status;
    }
}

TEST(HttpDownerFailures, MissingLengthOrTypeFailsBeforeAnyBodyByte)
{
    FixtureServer server;
    FixtureResponse chunked = FixtureResponse::file(TempFolder::pattern(5000));
    chunked.chunked = true;
    server.on("/chunked", chunked);
    FixtureResponse untyped;
    untyped.body = "abc";
    server.on("/untyped", untyped);

    Transfer noLength;
    EXPECT_FALSE(noLength.run(server.url("/chunked")));
    EXPECT_EQ(noLength.recorder.summary(), "sent");

    Transfer noType;
    EXPECT_FALSE(noType.run(server.url("/untyped")));
    EXPECT_EQ(noType.recorder.summary(), "sent");
}

TEST(HttpDownerFailures, ConnectSendAndUrlFailuresAreLoggedWithTheirCodes)
{
    TempFolder dir;
    Log::instance().setUp(true, wide(dir.file("log.txt")));

    int closedPort = 0;
    {
        FixtureServer gone;
        closedPort = gone.port();
    }
    Transfer refused;
    EXPECT_FALSE(refused.run("http://127.0.0.1:" + std::to_string(closedPort) + "/x"));
    EXPECT_EQ(refused.downer.failureReason, "Connection refused");
    EXPECT_EQ(refused.recorder.summary(), "");

    FixtureServer server;
    FixtureResponse hangUp;
    hangUp.noAnswer = true;
    server.on("/hangup", hangUp);
    Transfer unanswered;
    EXPECT_FALSE(unanswered.run(server.url("/hangup")));
    EXPECT_EQ(unanswered.recorder.summary(), "sent");

    Transfer badUrl;
    EXPECT_FALSE(badUrl.run("ftp://127.0.0.1/x"));
    EXPECT_EQ(badUrl.recorder.summary(), "");

    std::stringstream log;
    log << std::ifstream(dir.file("log.txt")).rdbuf();
    EXPECT_NE(log.str().find("连接服务器错误" + std::to_string(CURLE_COULDNT_CONNECT) + " [net/HttpDowner.cpp:"),
              std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find("发送HTTP请求头失败，错误码:" + std::to_string(CURLE_GOT_NOTHING)), std::string::npos);
    EXPECT_NE(log.str().find("创建请求失败，错误码：" + std::to_string(CURLE_UNSUPPORTED_PROTOCOL)), std::string::npos);
}

TEST(HttpDownerRequest, HeaderBlockAndUserAgentReachTheServerUnchanged)
{
    FixtureServer server;
    server.on("/h", FixtureResponse::file("ok"));

    Transfer t;
    EXPECT_TRUE(t.run(server.url("/h"), "Cookie: sid=42; lang=zh\r\nRange: bytes=5-9\r\n"));
    Transfer withAccept;
    EXPECT_TRUE(withAccept.run(server.url("/h"), "Accept: text/plain\r\n"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("Cookie"), "sid=42; lang=zh");
    EXPECT_EQ(requests[0].header("Range"), "bytes=5-9");
    EXPECT_EQ(requests[0].header("User-Agent"), "Zelvorn");
    EXPECT_FALSE(requests[0].hasHeader("Accept"));
    EXPECT_EQ(requests[1].header("Accept"), "text/plain");
}

TEST(HttpDownerRequest, FullAnswerToARangedRequestIsAccepted)
{
    FixtureServer server;
    server.on("/whole", FixtureResponse::file("whole body"));
    Transfer t;
    EXPECT_TRUE(t.run(server.url("/whole"), "Range: bytes=4-\r\n"));
    EXPECT_EQ(t.recorder.summary(), "sent length=10 name body data stored");
    EXPECT_EQ(t.recorder.body, "whole body");
}

TEST(HttpDownerRequest, ObjectNameReplacesPathAndQuery)
{
    FixtureServer server;
    server.on("/c/d", FixtureResponse::file("ok"));
    HttpDowner downer;
    TransferRecorder recorder(downer);
    EXPECT_TRUE(downer.request(wide(server.url("/a/b.zip?x=1")), L"/c/d?y=2"));
    EXPECT_EQ(server.requests().at(0).target, "/c/d?y=2");
    EXPECT_EQ(recorder.names, std::vector<std::wstring>{L"b.zip?x=1"});
}

TEST(HttpDownerRequest, RedirectsAreFollowedAndEndlessOnesFail)
{
    FixtureServer server;
    FixtureResponse moved = FixtureResponse::file("");
    moved.status = 302;
    moved.header("Location", "/new/target.bin");
    server.on("/old/source.bin", moved);
    server.on("/new/target.bin", FixtureResponse::file("arrived"));
    FixtureResponse loop = FixtureResponse::file("");
    loop.status = 301;
    loop.header("Location", "/loop");
    server.on("/loop", loop);

    Transfer t;
    EXPECT_TRUE(t.run(server.url("/old/source.bin")));
    EXPECT_EQ(t.recorder.summary(), "sent sent length=7 name body data stored");
    // Each hop says its own request's size, not the sum so far: the two differ only in paths of
    // one length.
    ASSERT_EQ(t.recorder.sentBytes.size(), 2u);
    EXPECT_GT(t.recorder.sentBytes[0], 0u);
    EXPECT_EQ(t.recorder.sentBytes[1], t.recorder.sentBytes[0]);
    EXPECT_EQ(t.recorder.body, "arrived");
    EXPECT_EQ(t.downer.statusCode, 200);
    EXPECT_EQ(server.requests().at(1).target, "/new/target.bin");

    Transfer endless;
    EXPECT_FALSE(endless.run(server.url("/loop")));
    EXPECT_EQ(endless.downer.statusCode, 301);
    EXPECT_EQ(endless.recorder.body, "");

    // The page's Cookie goes to the host the page named, never to another one it redirects to.
    FixtureServer other;
    other.on("/elsewhere", FixtureResponse::file("x"));
    FixtureResponse away = FixtureResponse::file("");
    away.status = 302;
    away.header("Location", other.url("/elsewhere"));
    server.on("/away", away);
    Transfer redirected;
    EXPECT_TRUE(redirected.run(server.url("/away"), "Cookie: sid=42\r\n"));
    EXPECT_EQ(server.requests().back().header("Cookie"), "sid=42");
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_FALSE(other.requests()[0].hasHeader("Cookie"));
}

TEST(HttpDownerRequest, HttpsWithASelfSignedCertificateIsAccepted)
{
    FixtureServer server(FixtureServer::Mode::https);
    const std::string body = TempFolder::pattern(200000);
    server.on("/secure.bin", FixtureResponse::file(body));
    Transfer t;
    EXPECT_TRUE(t.run(server.url("/secure.bin")));
    EXPECT_EQ(t.recorder.body, body);
    EXPECT_EQ(server.requests().at(0).header("User-Agent"), "Zelvorn");
}

TEST(HttpDownerFileName, TakenFromContentDispositionElseFromTheUrlWithItsQuery)
{
    FixtureServer server;
    server.on("/plain",
              FixtureResponse::file("x").header("Content-Disposition", "attachment; filename=report.pdf; size=10"));
    server.on("/quoted",
              FixtureResponse::file("x").header("Content-Disposition", "attachment; filename=\"a%20b.zip\""));
    server.on("/utf8",
              FixtureResponse::file("x").header(
                  "Content-Disposition", "attachment; filename=fallback.txt; filename*=UTF-8''%E6%8A%A5%E5%91%8A.txt"));
    server.on("/inline", FixtureResponse::file("x").header("Content-Disposition", "inline"));
    server.on("/dir/empty-name", FixtureResponse::file("x").header("Content-Disposition", "attachment; filename=\"\""));
    server.on("/dir/x.zip", FixtureResponse::file("x"));

    const std::vector<std::pair<std::string, std::vector<std::wstring>>> cases = {
        {"/plain", {L"report.pdf"}},
        {"/quoted", {L"a b.zip"}},
        {"/utf8", {L"报告.txt"}},
        {"/inline", {L"inline"}},  // a header without a usable name falls back to the URL's
        {"/dir/empty-name", {L"empty-name"}},
        {"/dir/x.zip?v=2", {L"x.zip?v=2"}},
    };
    for (const auto& c : cases) {
        Transfer t;
        EXPECT_TRUE(t.run(server.url(c.first))) << c.first;
        EXPECT_EQ(t.recorder.names, c.second) << c.first;
    }
}

TEST(HttpDownerStop, StopBeforeTheCallOpensNothing)
{
    FixtureServer server;
    server.on("/x", FixtureResponse::file("x"));
    Transfer t;
    *t.stop = true;
    EXPECT_FALSE(t.run(server.url("/x")));
    EXPECT_TRUE(t.recorder.events.empty());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(server.peakConnections(), 0);
}

TEST(HttpDownerStop, AStopOrARefusalAtTheAnswerOrAtABlockEndsTheTransfer)
{
    FixtureServer server;
    server.on("/x", FixtureResponse::file(TempFolder::pattern(3000000)));

    Transfer refused;
    refused.recorder.onAnswer = [] { return false; };
    EXPECT_FALSE(refused.run(server.url("/x")));
    EXPECT_EQ(refused.recorder.summary(), "sent length=3000000 name");

    Transfer stopped;
    stopped.recorder.onAnswer = [&] {
        *stopped.stop = true;
        return true;
    };
    EXPECT_FALSE(stopped.run(server.url("/x")));
    EXPECT_EQ(stopped.recorder.blocks.load(), 0);

    Transfer closed;
    closed.recorder.onAnswer = [&] {
        closed.downer.closeHandles();
        return true;
    };
    EXPECT_FALSE(closed.run(server.url("/x")));
    EXPECT_EQ(closed.recorder.blocks.load(), 0);

    Transfer atFirstBlock;
    atFirstBlock.recorder.onBlock = [&] { *atFirstBlock.stop = true; };
    EXPECT_FALSE(atFirstBlock.run(server.url("/x")));
    EXPECT_EQ(atFirstBlock.recorder.blocks.load(), 1);
}
