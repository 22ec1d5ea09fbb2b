#include "StdioHost.h"

#include "component/TaskMgr.h"
#include "control/CDownloaderPartition.h"
#include "platform/Apartment.h"
#include "platform/ScriptFunction.h"
#include "support/Text.h"

#include <chrono>
#include <string>
#include <thread>

int runStdioHost(std::istream& in, std::FILE* out)
{
    auto page = Apartment::create();
    ComPtr<CDownloaderPartition> control;
    HRESULT hr = E_FAIL;
    page->invoke([&] {
        CDownloaderPartition* created = nullptr;
        hr = CDownloaderPartition::create(&created);
        if (FAILED(hr))
            return;
        control = ComPtr<CDownloaderPartition>::adopt(created);
        // Runs on the page's thread only, so writes to `out` never interleave.
        auto print = ScriptFunction::create([out](const std::wstring& text) {
            std::string line = toUtf8(text);
            if (line.empty() || line.back() != '\n')
                line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
            std::fflush(out);
        });
        control->put_recvMessage(print.get());
    });
    if (FAILED(hr)) {
        std::fprintf(stderr, "zelvorn: the control could not be created (0x%08X)\n", static_cast<unsigned>(hr));
        return 1;
    }

    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::wstring text = fromUtf8(line);
        page->invoke([&] { control->postMessage(text); });
    }
    waitForQueueEnd();
    page->invoke([&] { control = ComPtr<CDownloaderPartition>(); });
    return 0;
}

void waitForQueueEnd()
{
    while (TaskMgr::instance().isBusy())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void stopQueue()
{
    TaskMgr::instance().stopQueue();
}
