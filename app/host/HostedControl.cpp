#include "HostedControl.h"

#include "CallByName.h"
#include "HostSite.h"
#include "platform/CreateByProgId.h"
#include "platform/Registry.h"
#include "platform/ScriptFunction.h"
#include "support/Text.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

const wchar_t* const kProgId = kControlProgId;

void reportCreationFailure(HRESULT hr, const std::string& detail)
{
    const std::string progId = toUtf8(kProgId);
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG)
        std::fprintf(stderr, "zelvorn: %s is not registered; run: zelvorn register --user\n", progId.c_str());
    else if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        std::fprintf(stderr,
                     "zelvorn: the module registered for %s cannot be loaded (%s); run: zelvorn register --user\n",
                     progId.c_str(), detail.c_str());
    else if (hr == HRESULT_FROM_WIN32(ERROR_BADDB))
        std::fprintf(stderr, "zelvorn: a registry file is corrupt: %s or %s\n",
                     Registry::hiveFile(Registry::Hive::User).c_str(),
                     Registry::hiveFile(Registry::Hive::Machine).c_str());
    else
        std::fprintf(stderr, "zelvorn: %s could not be created (0x%08X)\n", progId.c_str(), static_cast<unsigned>(hr));
}

}  // namespace

HostedControl::HostedControl(Token) : page(Apartment::create()) {}

HostedControl::~HostedControl()
{
    page->invoke([this] {
        apartmentThread.check("HostedControl::~HostedControl");
        queue = ComPtr<IDownloadQueue>();
        control = ComPtr<IDispatch>();
    });
}

std::shared_ptr<HostedControl> HostedControl::create(Listener listener, std::string pageOrigin)
{
    auto hosted = std::make_shared<HostedControl>(Token{});
    HRESULT hr = E_FAIL;
    std::string detail;
    hosted->page->invoke([&] {
        hosted->apartmentThread.bindToCurrent();
        IDispatch* created = nullptr;
        hr = createByProgId(kProgId, HostSite::create(pageOrigin).get(), &created, &detail);
        if (FAILED(hr))
            return;
        hosted->control = ComPtr<IDispatch>::adopt(created);
        auto deliver = ScriptFunction::createUtf8([listener](const std::string& text) {
            std::string_view event = text;
            if (!event.empty() && event.back() == '\n')
                event.remove_suffix(1);
            listener(event);
        });
        hr = callByName(*created, L"recvMessage", DispatchKind::PropertyPut, Variant::fromFunction(deliver));
        if (SUCCEEDED(hr))
            hosted->queue = hosted->control.as<IDownloadQueue>();
    });
    if (FAILED(hr)) {
        reportCreationFailure(hr, detail);
        return nullptr;
    }
    return hosted;
}

void HostedControl::post(const std::string& command)
{
    // Handed over as UTF-8: a command of many megabytes is not copied in wide characters.
    page->invoke([&] {
        apartmentThread.check("HostedControl::post");
        callByName(*control.get(), L"postMessage", DispatchKind::Method, Variant::fromUtf8Text(command));
    });
}

void HostedControl::post(std::vector<std::string>&& commands)
{
    page->invoke([&] {
        apartmentThread.check("HostedControl::post");
        for (std::string& command : commands)
            callByName(*control.get(), L"postMessage", DispatchKind::Method, Variant::fromUtf8Text(std::move(command)));
    });
}

bool HostedControl::onPage(const std::function<void()>& call)
{
    return page->invoke(call);
}

bool HostedControl::afterEvents(std::function<void()> call)
{
    return page->post(std::move(call));
}

bool HostedControl::busy()
{
    bool running = false;
    page->invoke([&] {
        apartmentThread.check("HostedControl::busy");
        if (queue)
            queue->IsBusy(&running);
    });
    return running;
}

std::vector<int> HostedControl::runningTasks()
{
    std::vector<int> ids;
    page->invoke([&] {
        apartmentThread.check("HostedControl::runningTasks");
        if (queue)
            queue->RunningTasks(&ids);
    });
    return ids;
}

bool HostedControl::whenIdle(std::function<void()> call)
{
    return page->post([this, apartment = page, call = std::move(call)] {
        apartmentThread.check("HostedControl::whenIdle");
        // The queue may end on any thread: the call goes back to the apartment, behind the events.
        const auto after = [apartment, call] { apartment->post(call); };
        if (!queue || FAILED(queue->AdviseIdle(after)))
            after();
    });
}

void HostedControl::waitForQueueEnd()
{
    struct Idle {
        std::mutex lock;
        std::condition_variable reached;
        bool idle = false;  // guarded by lock
    };
    const auto state = std::make_shared<Idle>();
    const auto tell = [state] {
        std::lock_guard<std::mutex> lock(state->lock);
        state->idle = true;
        state->reached.notify_all();
    };
    const bool asked = page->invoke([&] {
        apartmentThread.check("HostedControl::waitForQueueEnd");
        if (!queue || FAILED(queue->AdviseIdle(tell)))
            tell();
    });
    if (!asked)
        return;  // the apartment has ended: nothing more will run
    std::unique_lock<std::mutex> lock(state->lock);
    state->reached.wait(lock, [&] { return state->idle; });
}

void HostedControl::stopQueue()
{
    page->invoke([this] {
        apartmentThread.check("HostedControl::stopQueue");
        if (queue)
            queue->StopQueue();
    });
}
