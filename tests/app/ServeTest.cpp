#include "PageClient.h"
#include "ServeProcess.h"
#include "ZelvornProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// One raw HTTP/1.1 exchange: the whole answer the server gives before it closes or goes quiet.
std::string httpExchange(uint16_t port, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const timeval patience{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    close(fd);
    return answer;
}

std::string get(uint16_t port, const std::string& target, const std::string& host)
{
    return httpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
}

// The server's whole answer to a WebSocket upgrade of `target`, sent with these headers.
std::string upgrade(uint16_t port, const std::string& origin, const std::string& host,
                    const std::string& target = "/control")
{
    return httpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: " + host +
                                  "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                                  (origin.empty() ? "" : "Origin: " + origin + "\r\n") + "\r\n");
}

const char* const kInit = R"({"name":"init","config":{"ThreadCount":1}})";

}  // namespace

// Pages of the server's own origin (and of origins allowed on the command line) get a control
// each; the events of their commands come back in order.
TEST(Serve, PagesOfAllowedOriginsDriveTheirOwnControl)
{
    ServeProcess serve({"--allow-origin", "HTTP://Example.test:8080"});
    for (const std::string& origin : {serve.origin(), std::string("http://localhost:") + std::to_string(serve.port()),
                                      std::string("http://example.test:8080")}) {
        PageClient page(serve.port(), origin);
        ASSERT_TRUE(page.open()) << origin << ": " << serve.errors();
        // Sent before the control exists: queued behind its creation, in order.
        for (int i = 0; i < 20; ++i)
            page.send(R"({"name":"init","config":{"ThreadCount":)" + std::to_string(1 + i % 5) + "}}");
        for (int i = 0; i < 20; ++i) {
            auto event = page.read();
            ASSERT_TRUE(event) << "closed: " << page.closeCode() << " " << page.closeReason();
            EXPECT_EQ(*event, R"({"browser":"ie32","name":"load_complete","version":"1,2,56,31650"})"
                              "\n");
        }
        page.send(R"({"name":"no_such_command"})");
        page.send("not json at all");
        page.send(kInit);
        EXPECT_TRUE(page.readUntil("load_complete")) << "bad commands end nothing";
    }
    const std::string index = get(serve.port(), "/", "127.0.0.1:" + std::to_string(serve.port()));
    EXPECT_EQ(index.rfind("HTTP/1.1 200 OK", 0), 0u) << index;
    EXPECT_NE(index.find("zelvorn.js"), std::string::npos);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// Everything that is not a page of an allowed origin on this server is turned away with a
// status or close code that says why, and logged; the server goes on serving.
TEST(Serve, RefusesForeignOriginsHostsAndOversizeMessages)
{
    ServeProcess serve;
    const std::string self = "127.0.0.1:" + std::to_string(serve.port());

    // A page of another origin is told why, in the close its script sees, and never gets a session.
    for (const std::string& origin : {std::string("http://evil.example"), std::string(""), std::string("null")}) {
        for (const std::string& protocol : {std::string(""), std::string("zelvorn.1")}) {
            PageClient foreign(serve.port(), origin, "", "/control?session=0123456789abcdef&page=1", protocol);
            ASSERT_TRUE(foreign.open()) << origin;
            foreign.send(kInit);
            EXPECT_FALSE(foreign.read()) << origin;
            EXPECT_EQ(foreign.closeCode(), 1008) << origin;
            EXPECT_NE(foreign.closeReason().find(origin.empty() ? "no Origin header" : "is not allowed"),
                      std::string::npos)
                << foreign.closeReason();
        }
    }
    const std::string port = std::to_string(serve.port());
    // A page of a name rebound to 127.0.0.1: its own origin, and its own name in Host.
    const std::string rebound = upgrade(serve.port(), "http://evil.example:" + port, "evil.example:" + port);
    EXPECT_EQ(rebound.rfind("HTTP/1.1 403", 0), 0u) << rebound;
    EXPECT_NE(rebound.find("does not name this server"), std::string::npos) << rebound;
    EXPECT_EQ(upgrade(serve.port(), serve.origin(), "127.0.0.1:1").rfind("HTTP/1.1 403", 0), 0u);
    EXPECT_EQ(upgrade(serve.port(), serve.origin(), self, "/other").rfind("HTTP/1.1 404", 0), 0u);

    EXPECT_NE(get(serve.port(), "/", "evil.example").find("HTTP/1.1 403"), std::string::npos);
    EXPECT_NE(get(serve.port(), "/../CMakeLists.txt", self).find("HTTP/1.1 404"), std::string::npos);
    EXPECT_NE(get(serve.port(), "/.hidden", self).find("HTTP/1.1 404"), std::string::npos);
    EXPECT_NE(httpExchange(serve.port(), "POST / HTTP/1.1\r\nHost: " + self + "\r\nContent-Length: 1\r\n\r\nx")
                  .find("HTTP/1.1 413"),
              std::string::npos);
    EXPECT_NE(httpExchange(serve.port(), "DELETE / HTTP/1.1\r\nHost: " + self + "\r\n\r\n").find("HTTP/1.1 405"),
              std::string::npos);
    const std::string bigHeader =
        "GET / HTTP/1.1\r\nHost: " + self + "\r\nX-Fill: " + std::string(9000, 'x') + "\r\n\r\n";
    EXPECT_NE(httpExchange(serve.port(), bigHeader).find("HTTP/1.1 431"), std::string::npos);

    PageClient oversize(serve.port(), serve.origin());
    ASSERT_TRUE(oversize.open());
    oversize.send(std::string(16 * 1024 * 1024 + 1, ' '));
    EXPECT_FALSE(oversize.read());
    EXPECT_EQ(oversize.closeCode(), 1009);  // too big
    PageClient binary(serve.port(), serve.origin());
    ASSERT_TRUE(binary.open());
    binary.sendBinary("{}");
    EXPECT_FALSE(binary.read());
    EXPECT_EQ(binary.closeCode(), 1003);
    EXPECT_EQ(binary.closeReason(), "text messages only");

    PageClient page(serve.port(), serve.origin());
    ASSERT_TRUE(page.open());
    page.send(std::string(16 * 1024 * 1024 - 200, ' ') + kInit);  // just under the limit: a command
    EXPECT_TRUE(page.readUntil("load_complete"));

    const std::string log = serve.errors();
    EXPECT_NE(log.find("refused GET /control: origin \"http://evil.example\""), std::string::npos) << log;
    EXPECT_NE(log.find("refused GET /control: no Origin header"), std::string::npos) << log;
    EXPECT_NE(log.find("page closed: a message longer than 16777216 bytes"), std::string::npos) << log;
    EXPECT_EQ(serve.stop(), 0) << log;
}

// Without a registered control a page is told why, and the server goes on.
TEST(Serve, APageWithoutAControlIsToldWhy)
{
    TempFolder empty;
    ServeProcess serve({}, {{"ZELVORN_REGISTRY_USER", empty.file("user.json")},
                            {"ZELVORN_REGISTRY_MACHINE", empty.file("machine.json")}});
    for (int i = 0; i < 2; ++i) {
        PageClient page(serve.port(), serve.origin());
        ASSERT_TRUE(page.open());
        page.send(kInit);
        EXPECT_FALSE(page.read());
        EXPECT_EQ(page.closeCode(), 1011);
        EXPECT_NE(page.closeReason().find("the control for " + serve.origin() + " cannot be created"),
                  std::string::npos)
            << page.closeReason();
    }
    EXPECT_NE(serve.errors().find("run: zelvorn register --user"), std::string::npos) << serve.errors();
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// What serve could not serve by is refused at its start with a reason and status 2: an origin
// that is not scheme://host[:port] alone, a web folder that is not there.
TEST(ServeEdges, MalformedOriginsAndAMissingWebFolderAreRefusedAtStart)
{
    TempFolder dir;
    const std::vector<std::vector<std::string>> refused{
        {"--allow-origin", "http://127.0.0.1:8080/"}, {"--allow-origin", "http://127.0.0.1:8080/page"},
        {"--allow-origin", "127.0.0.1:8080"},         {"--allow-origin", "http://user@host"},
        {"--allow-origin", "http://host:99999"},      {"--web", dir.file("missing")}};
    for (const auto& options : refused) {
        std::vector<std::string> words{"serve", "--port", "0"};
        words.insert(words.end(), options.begin(), options.end());
        ZelvornProcess serve(dir, words);
        EXPECT_EQ(serve.wait(), 2) << options[1];
        EXPECT_NE(serve.err().find(options[0] == "--web" ? "no such folder" : "is not an origin"), std::string::npos)
            << serve.err();
        EXPECT_EQ(serve.out(), "") << "it never listened";
    }
}

// A link in the web folder is served only when what it names lies inside the folder.
TEST(ServeEdges, LinksOutOfTheWebFolderAreNeverFollowed)
{
    TempFolder web;
    web.writeFile("index.html", "<p>inside</p>");
    ASSERT_EQ(symlink("/etc/passwd", web.file("passwd").c_str()), 0);
    ASSERT_EQ(symlink("/etc", web.file("etc").c_str()), 0);
    ASSERT_EQ(symlink(web.file("index.html").c_str(), web.file("again.html").c_str()), 0);
    ServeProcess serve({"--web", web.path().string()});
    const std::string self = "127.0.0.1:" + std::to_string(serve.port());
    EXPECT_NE(get(serve.port(), "/passwd", self).find("HTTP/1.1 404"), std::string::npos);
    EXPECT_NE(get(serve.port(), "/etc/passwd", self).find("HTTP/1.1 404"), std::string::npos);
    const std::string again = get(serve.port(), "/again.html", self);
    EXPECT_NE(again.find("HTTP/1.1 200"), std::string::npos) << again;
    EXPECT_NE(again.find("<p>inside</p>"), std::string::npos);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A flood of refused requests writes a bounded number of lines.
TEST(ServeEdges, RefusalsDoNotFloodTheLog)
{
    ServeProcess serve;
    const std::string self = "127.0.0.1:" + std::to_string(serve.port());
    for (int i = 0; i < 60; ++i)
        get(serve.port(), "/nothing-" + std::to_string(i), self);
    size_t lines = 0;
    for (size_t at = 0; (at = serve.errors().find("refused GET /nothing-", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_GT(lines, 0u);
    EXPECT_LE(lines, 20u);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}

// A server out of file descriptors waits before it accepts again instead of spinning, and
// serves once some are free.
TEST(ServeEdges, RunningOutOfDescriptorsDoesNotSpin)
{
#if defined(__SANITIZE_ADDRESS__)
    // UndefinedBehaviorSanitizer checks memory through a pipe of its own: without descriptors
    // it takes every checked call for a fault.
    GTEST_SKIP() << "the sanitizers need file descriptors of their own";
#endif
    ServeProcess serve;
    const std::string self = "127.0.0.1:" + std::to_string(serve.port());
    const rlimit few{32, 32};
    ASSERT_EQ(prlimit(serve.id(), RLIMIT_NOFILE, &few, nullptr), 0);
    std::vector<int> clients;
    for (int i = 0; i < 48; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(serve.port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        clients.push_back(fd);
    }
    for (int i = 0; i < 500 && serve.errors().find("out of file descriptors") == std::string::npos; ++i)
        usleep(20000);
    ASSERT_NE(serve.errors().find("out of file descriptors"), std::string::npos) << serve.errors();
    // Over a second of waiting for descriptors, the server uses a small part of a core.
    const double before = serve.cpuSeconds();
    usleep(1000000);
    EXPECT_LT(serve.cpuSeconds() - before, 0.5);
    for (const int fd : clients)
        close(fd);
    std::string index;
    for (int i = 0; i < 250 && index.find("HTTP/1.1 200") == std::string::npos; ++i)
        index = get(serve.port(), "/", self);
    EXPECT_NE(index.find("HTTP/1.1 200"), std::string::npos);
    EXPECT_EQ(serve.stop(), 0) << serve.errors();
}
