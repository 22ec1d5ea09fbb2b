// ProgressText: the "percent", "time" and "speed" texts of a job's progress events, and the
// "HH:MM:SS" text of a duration.
//
// Owned by a download job and bound once, at the job's construction, to the job's `item`
// pointer and `speed` counter; it must not outlive them. It only reads: `speed` and the
// item's lengths atomically, on whichever thread asks for a text.
//
// Chosen texts beyond the rules of the page protocol:
// - a server length of 0 with a local length that is not 0 (length not known yet) is "0%";
// - a percentage or a number of seconds outside the signed 32-bit range is clamped to that
//   range ("2147483647%", "-2147483648%", "596523:14:07"), so no text ever comes from an
//   undefined conversion;
// - without an item the texts are "0%" and "00:00:00".
#pragma once

#include "component/DownItem.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class ProgressText {
public:
    ProgressText(const std::shared_ptr<DownItem>& item, const std::atomic<int64_t>& speed);

    // Share of the server length stored locally, truncated: "33%".
    std::string percentText() const;
    // Time the rest takes at the current speed, at least one second while bytes remain.
    std::string remainingText() const;
    // The size text of the speed per second, UTF-8: "1.00 MB/s".
    std::string speedText() const;

    // "00:00:00"; hours take more than two digits when needed, a negative duration gets "-".
    static std::string durationText(int32_t seconds);
    // The "percent" of one file of a folder: max(lenLoc, 1) / lenSvr, truncated, without the
    // special cases of percentText(); "0%" for a zero server length.
    static std::string filePercentText(int64_t lenLoc, int64_t lenSvr);

private:
    const std::shared_ptr<DownItem>& item;  // the job's member; read, never reseated here
    const std::atomic<int64_t>& speed;
};
