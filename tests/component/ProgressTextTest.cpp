#include "component/ProgressText.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Stands in for a download job: the members a ProgressText is bound to.
struct Job {
    std::shared_ptr<DownItem> item = std::make_shared<DownItem>();
    std::atomic<int64_t> speed{0};
    ProgressText text{item, speed};

    std::string percent(int64_t loc, int64_t svr)
    {
        item->lenLoc = loc;
        item->lenSvr = svr;
        return text.percentText();
    }
    std::string remaining(int64_t loc, int64_t svr, int64_t perSecond)
    {
        item->lenLoc = loc;
        item->lenSvr = svr;
        speed = perSecond;
        return text.remainingText();
    }
    std::string speedText(int64_t perSecond)
    {
        speed = perSecond;
        return text.speedText();
    }
};

}  // namespace

TEST(ProgressText, PercentTruncatesTheSingleScaledFraction)
{
    Job job;
    EXPECT_EQ(job.percent(1, 3), "33%");
    EXPECT_EQ(job.percent(2, 3), "66%");
    EXPECT_EQ(job.percent(29, 100), "29%");  // 28.999999999999996 in double, 29 in single precision
    EXPECT_EQ(job.percent(5368709120, 10737418240), "50%");
    EXPECT_EQ(job.percent(1, 10485760), "0%");
}

TEST(ProgressText, PercentOfUnknownDoneAndExtremeLengths)
{
    Job job;
    EXPECT_EQ(job.percent(0, 10485760), "0%");
    EXPECT_EQ(job.percent(4096, 0), "0%");  // server length not known yet
    EXPECT_EQ(job.percent(3, 3), "100%");
    // Lengths a hostile page or server sends give a number, never an overflow.
    for (const auto& [local, server] : {std::pair<int64_t, int64_t>{kMax, 1},
                                        {kMin, 1},
                                        {kMin, -1},
                                        {1, kMin},
                                        {kMin, kMax},
                                        {kMax, kMin},
                                        {21474836, 1}}) {
        const std::string text = job.percent(local, server);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '%');
        EXPECT_NO_THROW(std::stoi(text.substr(0, text.size() - 1))) << text;
    }
}

TEST(ProgressText, RemainingTimeAtTheCurrentSpeed)
{
    Job job;
    EXPECT_EQ(job.remaining(9000, 10000, 5000), "00:00:01");  // at least one second
    EXPECT_EQ(job.remaining(7500, 10000, 1000), "00:00:02");  // truncated
    EXPECT_EQ(job.remaining(1048576, 10485760, 1048576), "00:00:09");
    EXPECT_EQ(job.remaining(1, 3726, 1), "01:02:05");
}

TEST(ProgressText, RemainingTimeIsZeroWithoutAnythingToMeasure)
{
    Job job;
    EXPECT_EQ(job.remaining(0, 10485760, 5000), "00:00:00");
    EXPECT_EQ(job.remaining(10, 0, 5000), "00:00:00");
    EXPECT_EQ(job.remaining(10, 100, 0), "00:00:00");
    EXPECT_EQ(job.remaining(10, 100, -5), "00:00:00");
    EXPECT_EQ(job.remaining(100, 100, 5), "00:00:00");
    EXPECT_EQ(job.remaining(200, 100, 5), "00:00:01");  // more than the server length
}

TEST(ProgressText, RemainingTimeOutside32BitsIsClamped)
{
    Job job;
    EXPECT_EQ(job.remaining(1, kMax, 1), "596523:14:07");
    EXPECT_EQ(job.remaining(kMin, kMax, 1), "596523:14:07");
    EXPECT_EQ(job.remaining(kMax, kMin, 1), "00:00:01");
    EXPECT_EQ(job.remaining(1, kMax, kMax), "00:00:01");
}

TEST(ProgressText, SpeedIsTheSizeTextPerSecond)
{
    Job job;
    EXPECT_EQ(job.speedText(0), "0byte/s");
    EXPECT_EQ(job.speedText(1), "1bytes/s");
    EXPECT_EQ(job.speedText(1023), "1023bytes/s");
    EXPECT_EQ(job.speedText(-5), "-5bytes/s");
    EXPECT_EQ(job.speedText(1024), "1.00 KB/s");
    EXPECT_EQ(job.speedText(1023999), "999 KB/s");
    EXPECT_EQ(job.speedText(1024000), "0.97 MB/s");
    EXPECT_EQ(job.speedText(1048575), "0.99 MB/s");
    EXPECT_EQ(job.speedText(1048576), "1.00 MB/s");
    EXPECT_EQ(job.speedText(1073741824), "1.00 GB/s");
}

TEST(ProgressText, FollowsTheTaskTheJobHoldsNow)
{
    std::shared_ptr<DownItem> item;
    std::atomic<int64_t> speed{1000};
    const ProgressText text(item, speed);
    EXPECT_EQ(text.percentText(), "0%");
    EXPECT_EQ(text.remainingText(), "00:00:00");

    item = std::make_shared<DownItem>();
    item->lenLoc = 1;
    item->lenSvr = 4;
    EXPECT_EQ(text.percentText(), "25%");
    EXPECT_EQ(text.remainingText(), "00:00:01");
}

TEST(ProgressText, DurationTexts)
{
    EXPECT_EQ(ProgressText::durationText(0), "00:00:00");
    EXPECT_EQ(ProgressText::durationText(59), "00:00:59");
    EXPECT_EQ(ProgressText::durationText(3599), "00:59:59");
    EXPECT_EQ(ProgressText::durationText(3725), "01:02:05");
    EXPECT_EQ(ProgressText::durationText(359999), "99:59:59");
    EXPECT_EQ(ProgressText::durationText(360000), "100:00:00");
    EXPECT_EQ(ProgressText::durationText(-1), "-00:00:01");
    EXPECT_EQ(ProgressText::durationText(-3725), "-01:02:05");
    EXPECT_EQ(ProgressText::durationText(std::numeric_limits<int32_t>::max()), "596523:14:07");
    EXPECT_EQ(ProgressText::durationText(std::numeric_limits<int32_t>::min()), "-596523:14:08");
}
