// Events per second from one worker thread to the page's callback, through the whole channel:
// TaskMgr::sendEvent -> the control's send lock -> proxy -> the page's apartment -> compact JSON
// -> the script function. The event is a realistic "down_process" object.
//
//   build/bench/bench_events [events] [runs]
#include "component/TaskMgr.h"
#include "control/CDownloaderPartition.h"
#include "platform/Apartment.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;

    auto page = Apartment::create();
    ComPtr<CDownloaderPartition> control;
    std::atomic<long> received{0};
    std::atomic<size_t> bytes{0};
    page->invoke([&] {
        CDownloaderPartition* created = nullptr;
        CDownloaderPartition::create(&created);
        control = ComPtr<CDownloaderPartition>::adopt(created);
        auto callback = ScriptFunction::create([&](const std::wstring& text) {
            bytes += text.size();
            ++received;
        });
        control->put_recvMessage(callback.get());
    });

    std::vector<double> rates;
    for (int run = 0; run < runs; ++run) {
        received = 0;
        const auto begin = std::chrono::steady_clock::now();
        std::thread worker([&] {
            for (int i = 0; i < events; ++i) {
                Json::Value event;
                event["name"] = "down_process";
                event["id"] = 17;
                event["percent"] = "42%";
                event["time"] = "00:01:07";
                event["lenLoc"] = Json::Int64(450000000LL + i * 65536LL);
                event["sizeLoc"] = "429 MB";
                event["sizeRecv"] = "429 MB";
                event["speed"] = "11.2 MB/s";
                TaskMgr::instance().sendEvent(event);
            }
        });
        worker.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (received != events) {
            std::fprintf(stderr, "lost events: %ld of %d\n", received.load(), events);
            return 1;
        }
        rates.push_back(events / seconds);
        std::printf("run %d: %.0f events/s\n", run + 1, events / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("median: %.0f events/s (%d events per run, one worker thread)\n", rates[rates.size() / 2], events);
    return 0;
}
