#include "StdioHost.h"

#include "HostSite.h"
#include "LineReader.h"
#include "platform/Apartment.h"
#include "platform/CreateByProgId.h"
#include "platform/DownloadQueue.h"
#include "platform/Registry.h"
#include "platform/ScriptFunction.h"
#include "support/Text.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t* const kProgId = L"Dravik.DownloaderPartition";
// Far above any command a page sends (a folder of many thousand files), far below what would
// strain the host: its wide copy alone takes four times as much.
const size_t kMaxLineBytes = 16 * 1024 * 1024;

// The running host's apartment and queue, for the signal thread: set once the control exists.
std::mutex hostLock;
std::shared_ptr<Apartment> hostPage;   // guarded by hostLock
ComPtr<IDownloadQueue> hostQueue;      // guarded by hostLock

// Calls `call` with the host's queue on its apartment; false when there is no control.
bool withQueue(const std::function<void(IDownloadQueue&)>& call)
{
    std::shared_ptr<Apartment> page;
    ComPtr<IDownloadQueue> queue;
    {
        std::lock_guard<std::mutex> lock(hostLock);
        page = hostPage;
        queue = hostQueue;
    }
    return page && queue && page->invoke([&] { call(*queue.get()); });
}

// Calls one member of the control by name, as a page's script does.
HRESULT callByName(IDispatch& control, const wchar_t* name, DispatchKind kind, Variant argument)
{
    DISPID id = 0;
    HRESULT hr = control.GetIDsOfNames(name, &id);
    if (FAILED(hr))
        return hr;
    std::vector<Variant> args{std::move(argument)};
    return control.Invoke(id, kind, args, nullptr);
}

void reportCreationFailure(HRESULT hr, const std::string& detail)
{
    const std::string progId = toUtf8(kProgId);
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG)
        std::fprintf(stderr, "zelvorn: %s is not registered; run: zelvorn register --user\n", progId.c_str());
    else if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        std::fprintf(stderr, "zelvorn: the module registered for %s cannot be loaded (%s); run: zelvorn register --user\n",
                     progId.c_str(), detail.c_str());
    else if (hr == HRESULT_FROM_WIN32(ERROR_BADDB))
        std::fprintf(stderr, "zelvorn: a registry file is corrupt: %s or %s\n",
                     Registry::hiveFile(Registry::Hive::User).c_str(), Registry::hiveFile(Registry::Hive::Machine).c_str());
    else
        std::fprintf(stderr, "zelvorn: %s could not be created (0x%08X)\n", progId.c_str(), static_cast<unsigned>(hr));
}

}  // namespace

int runStdioHost(std::istream& in, std::FILE* out)
{
    auto page = Apartment::create();
    ComPtr<IDispatch> control;
    HRESULT hr = E_FAIL;
    std::string detail;
    page->invoke([&] {
        IDispatch* created = nullptr;
        hr = createByProgId(kProgId, HostSite::create().get(), &created, &detail);
        if (FAILED(hr))
            return;
        control = ComPtr<IDispatch>::adopt(created);
        // Runs on the page's thread only, so writes to `out` never interleave.
        auto print = ScriptFunction::create([out](const std::wstring& text) {
            std::string line = toUtf8(text);
            if (line.empty() || line.back() != '\n')
                line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
            std::fflush(out);
        });
        hr = callByName(*control.get(), L"recvMessage", DispatchKind::PropertyPut, Variant::fromFunction(print));
        void* queue = nullptr;
        if (SUCCEEDED(hr) && SUCCEEDED(control->QueryInterface(IID_IDownloadQueue, &queue))) {
            std::lock_guard<std::mutex> lock(hostLock);
            hostPage = page;
            hostQueue = ComPtr<IDownloadQueue>::adopt(static_cast<IDownloadQueue*>(queue));
        }
    });
    if (FAILED(hr)) {
        reportCreationFailure(hr, detail);
        page->invoke([&] { control = ComPtr<IDispatch>(); });
        return 1;
    }

    LineReader reader(in, kMaxLineBytes);
    std::string line;
    for (unsigned long number = 1;; ++number) {
        const LineReader::Outcome outcome = reader.next(line);
        if (outcome == LineReader::Outcome::end)
            break;
        if (outcome == LineReader::Outcome::tooLong) {
            std::fprintf(stderr, "zelvorn: line %lu skipped: longer than %zu bytes\n", number, kMaxLineBytes);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::wstring text = fromUtf8(line);
        page->invoke([&] { callByName(*control.get(), L"postMessage", DispatchKind::Method, Variant::fromText(text)); });
    }
    waitForQueueEnd();
    page->invoke([&] { control = ComPtr<IDispatch>(); });
    return 0;
}

void waitForQueueEnd()
{
    for (;;) {
        bool busy = false;
        if (!withQueue([&](IDownloadQueue& queue) { queue.IsBusy(&busy); }) || !busy)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void stopQueue()
{
    withQueue([](IDownloadQueue& queue) { queue.StopQueue(); });
}
