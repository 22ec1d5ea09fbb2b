#include "component/ProgressText.h"

#include "support/Text.h"

#include <boost/rational.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <numeric>

namespace {

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

uint64_t magnitude(int64_t value)
{
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// num / den in lowest terms with the sign on the numerator, as a double. den is not 0.
double reducedRatio(int64_t num, int64_t den)
{
    // The rational type negates its parts while reducing, which the 64-bit minimum does not
    // survive: take the common divisor out first through unsigned magnitudes.
    if (num == kMin64 || den == kMin64) {
        const uint64_t divisor = std::gcd(magnitude(num), magnitude(den));
        if (divisor == 1)  // already in lowest terms: the quotient does not depend on the sign's place
            return static_cast<double>(num) / static_cast<double>(den);
        // They are not both the minimum (equal lengths never get here), so the divisor is below 2^63.
        num /= static_cast<int64_t>(divisor);
        den /= static_cast<int64_t>(divisor);
    }
    const boost::rational<int64_t> ratio(num, den);
    return static_cast<double>(ratio.numerator()) / static_cast<double>(ratio.denominator());
}

// Truncates toward zero, clamping what int32 cannot hold.
int32_t clampToInt32(double value)
{
    if (!(value == value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

ProgressText::ProgressText(const std::shared_ptr<DownItem>& task, const std::atomic<int64_t>& bytesPerSecond)
    : item(task), speed(bytesPerSecond)
{
}

std::string ProgressText::percentText() const
{
    const std::shared_ptr<DownItem> task = item;
    if (!task)
        return "0%";
    const int64_t local = task->lenLoc;
    const int64_t server = task->lenSvr;
    if (local == 0 || server == 0)
        return "0%";
    if (local == server)
        return "100%";
    const float percent = static_cast<float>(reducedRatio(local, server) * 100.0);
    return intToString(clampToInt32(percent)) + "%";
}

std::string ProgressText::remainingText() const
{
    const std::shared_ptr<DownItem> task = item;
    const int64_t perSecond = speed;
    if (!task)
        return durationText(0);
    const int64_t local = task->lenLoc;
    const int64_t server = task->lenSvr;
    if (server == 0 || local == 0 || perSecond == 0)
        return durationText(0);
    // Wide enough for any two 64-bit lengths.
    __int128 remaining = static_cast<__int128>(server) - local;
    if (remaining == 0 || perSecond < 0)
        return durationText(0);
    if (remaining <= perSecond)
        remaining = perSecond;
    return durationText(clampToInt32(static_cast<double>(remaining) / static_cast<double>(perSecond)));
}

std::string ProgressText::speedText() const
{
    return toUtf8(sizeText(speed) + L"/s");
}

std::string ProgressText::durationText(int32_t seconds)
{
    const int64_t whole = seconds;
    const int64_t total = whole < 0 ? -whole : whole;
    char text[32];
    std::snprintf(text, sizeof text, "%s%02" PRId64 ":%02" PRId64 ":%02" PRId64, whole < 0 ? "-" : "", total / 3600,
                  total / 60 % 60, total % 60);
    return text;
}

std::string ProgressText::filePercentText(int64_t lenLoc, int64_t lenSvr)
{
    if (lenSvr == 0)
        return "0%";
    const float percent = static_cast<float>(reducedRatio(std::max<int64_t>(lenLoc, 1), lenSvr) * 100.0);
    return formatInt(clampToInt32(percent)) + "%";
}
