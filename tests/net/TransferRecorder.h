// TransferRecorder: the receiver of one HttpDowner, keeping what the request told it.
//
// Owned by a test, lives at least as long as the transfer it watches. Its calls come on the
// thread that runs request(); other threads may read `bodyStarted` and `blocks` while it runs,
// and everything else once request() has returned.
#pragma once

#include "net/HttpDowner.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct TransferRecorder : HttpDowner::Receiver {
    explicit TransferRecorder(HttpDowner& downer) { downer.receiver = this; }

    void sent(unsigned long bytes) override
    {
        events.push_back("sent");
        sentBytes.push_back(bytes);
    }
    bool answered(const HttpAnswer& answer) override
    {
        events.push_back("length=" + std::to_string(answer.contentLength));
        if (answer.range.present && !answer.range.unsatisfied)
            events.push_back("range=" + std::to_string(answer.range.first) + "," + std::to_string(answer.range.last) +
                             "," + std::to_string(answer.range.total));
        names.push_back(answer.fileName);
        events.push_back("name");
        contentType.clear();
        answer.headers.find("Content-Type", contentType);
        const bool taken = !onAnswer || onAnswer();
        if (taken) {
            events.push_back("body");
            bodyStarted = true;
        }
        return taken;
    }
    void received(std::vector<char>& block) override
    {
        events.push_back("data");
        body.append(block.data(), block.size());
        largestBlock = std::max(largestBlock, block.size());
        ++blocks;
        if (onBlock)
            onBlock();
    }
    void stored() override { events.push_back("stored"); }

    // The events in order, each run of "data stored" pairs shown once.
    std::string summary() const
    {
        std::string text;
        for (size_t i = 0; i < events.size(); ++i) {
            const bool repeatedBlock =
                events[i] == "data" && i >= 2 && events[i - 2] == "data" && events[i - 1] == "stored";
            const bool itsStored =
                events[i] == "stored" && i >= 3 && events[i - 3] == "data" && events[i - 1] == "data";
            if (repeatedBlock || itsStored)
                continue;
            text += (text.empty() ? "" : " ") + events[i];
        }
        return text;
    }

    // Optional: runs inside answered() (false refuses the answer) and inside received().
    std::function<bool()> onAnswer;
    std::function<void()> onBlock;

    std::vector<std::string> events;
    std::vector<unsigned long> sentBytes;  // what each sent() said
    std::vector<std::wstring> names;
    std::string contentType;
    std::string body;
    std::atomic<bool> bodyStarted{false};
    std::atomic<int> blocks{0};
    size_t largestBlock = 0;
};
