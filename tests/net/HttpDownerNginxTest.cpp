#include "TransferRecorder.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "net/HttpDowner.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

TEST(HttpDownerNginx, WholeFileAndRangeArriveByteForByte)
{
    TempFolder root;
    const std::string content = TempFolder::pattern(3 * 1024 * 1024 + 17);
    root.writeFile("data.bin", content);
    NginxServer nginx(root.path());

    HttpDowner whole;
    TransferRecorder wholeSeen(whole);
    EXPECT_TRUE(whole.request(fromUtf8(nginx.url("/data.bin")), L""));
    EXPECT_EQ(whole.statusCode, 200);
    EXPECT_EQ(wholeSeen.events.at(1), "length=" + std::to_string(content.size()));
    EXPECT_TRUE(wholeSeen.body == content);

    HttpDowner ranged;
    TransferRecorder rangedSeen(ranged);
    ranged.setHeaders("Range: bytes=1000000-1999999\r\n");
    EXPECT_TRUE(ranged.request(fromUtf8(nginx.url("/data.bin")), L""));
    EXPECT_EQ(ranged.statusCode, 206);
    EXPECT_EQ(rangedSeen.events.at(2), "range=1000000,1999999," + std::to_string(content.size()));
    EXPECT_TRUE(rangedSeen.body == content.substr(1000000, 1000000));
}

TEST(HttpDownerNginx, BodyOfFiveGibibytesIsDescribedWithItsFullLength)
{
    TempFolder root;
    const int64_t size = 5LL * 1024 * 1024 * 1024;
    {
        std::ofstream(root.file("big.bin"));
    }
    ASSERT_EQ(truncate(root.file("big.bin").c_str(), size), 0);  // sparse: takes no disk space
    NginxServer nginx(root.path());

    HttpDowner downer;
    TransferRecorder recorder(downer);
    downer.stopFlag = std::make_shared<boost::atomic<bool>>(false);
    recorder.onBlock = [&] {
        if (recorder.blocks >= 3)
            *downer.stopFlag = true;
    };
    downer.setHeaders("Range: bytes=4294967296-\r\n");
    EXPECT_FALSE(downer.request(fromUtf8(nginx.url("/big.bin")), L""));
    EXPECT_EQ(recorder.events.at(1), "length=" + std::to_string(size - 4294967296LL));
    EXPECT_EQ(recorder.events.at(2), "range=4294967296," + std::to_string(size - 1) + "," + std::to_string(size));

    HttpDowner whole;
    TransferRecorder wholeSeen(whole);
    wholeSeen.onBlock = [&] { whole.closeHandles(); };
    EXPECT_FALSE(whole.request(fromUtf8(nginx.url("/big.bin")), L""));
    EXPECT_EQ(wholeSeen.events.at(1), "length=" + std::to_string(size));
    EXPECT_EQ(wholeSeen.blocks.load(), 1);
}
