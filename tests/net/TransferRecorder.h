// TransferRecorder: connects to every signal of one HttpDowner and keeps what they carried.
//
// Owned by a test, lives at least as long as the transfer it watches. Slots run on the thread
// that runs request(); other threads may read `bodyStarted` and `blocks` while it runs, and
// everything else once request() has returned.
#pragma once

#include "net/HttpDowner.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

struct TransferRecorder {
    explicit TransferRecorder(HttpDowner& downer)
    {
        downer.onError.connect([this](unsigned code) { events.push_back("error=" + std::to_string(code)); });
        downer.onSent.connect([this](unsigned long n) { events.push_back(n ? "sent" : "sent0"); });
        downer.onContentLength.connect([this](int64_t n) { events.push_back("length=" + std::to_string(n)); });
        downer.onContentRange.connect([this](int64_t first, int64_t last, int64_t total) {
            events.push_back("range=" + std::to_string(first) + "," + std::to_string(last) + "," +
                             std::to_string(total));
        });
        downer.onFileName.connect([this](const std::wstring& name) {
            names.push_back(name);
            events.push_back("name");
        });
        downer.onBodyStart.connect([this] {
            events.push_back("body");
            bodyStarted = true;
        });
        downer.onData.connect([this](char* data, unsigned long size) {
            events.push_back("data");
            body.append(data, size);
            largestBlock = std::max<size_t>(largestBlock, size);
            ++blocks;
        });
    }

    // The events in order, each run of "data sent0" pairs shown once.
    std::string summary() const
    {
        std::string text;
        for (size_t i = 0; i < events.size(); ++i) {
            const bool repeatedBlock =
                events[i] == "data" && i >= 2 && events[i - 2] == "data" && events[i - 1] == "sent0";
            const bool itsSent = events[i] == "sent0" && i >= 3 && events[i - 3] == "data" && events[i - 1] == "data";
            if (repeatedBlock || itsSent)
                continue;
            text += (text.empty() ? "" : " ") + events[i];
        }
        return text;
    }

    std::vector<std::string> events;
    std::vector<std::wstring> names;
    std::string body;
    std::atomic<bool> bodyStarted{false};
    std::atomic<int> blocks{0};
    size_t largestBlock = 0;
};
