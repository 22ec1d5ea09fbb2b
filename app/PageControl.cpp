#include "PageControl.h"

#include "CallByName.h"
#include "HostSite.h"
#include "platform/CreateByProgId.h"
#include "platform/DownloadQueue.h"
#include "platform/OleObject.h"
#include "support/Text.h"

#include <cstdio>
#include <vector>

namespace {

const wchar_t* const kProgId = kControlProgId;

// The control's queue interface, or null.
ComPtr<IDownloadQueue> queueOf(IDispatch* control)
{
    void* raw = nullptr;
    if (!control || FAILED(control->QueryInterface(IID_IDownloadQueue, &raw)))
        return ComPtr<IDownloadQueue>();
    return ComPtr<IDownloadQueue>::adopt(static_cast<IDownloadQueue*>(raw));
}

}  // namespace

std::shared_ptr<PageControl> PageControl::open(std::string origin, Callbacks callbacks)
{
    auto opened = std::make_shared<PageControl>(Token{}, std::move(callbacks));
    opened->page->post([opened, origin = std::move(origin)] { opened->create(origin); });
    return opened;
}

PageControl::PageControl(Token, Callbacks toPage) : callbacks(std::move(toPage)) {}

void PageControl::create(const std::string& origin)
{
    IDispatch* created = nullptr;
    std::string detail;
    const auto site = HostSite::create(origin);
    HRESULT hr = createByProgId(kProgId, site.get(), &created, &detail);
    if (SUCCEEDED(hr)) {
        control = ComPtr<IDispatch>::adopt(created);
        auto deliver = ScriptFunction::createUtf8(callbacks.event);
        hr = callByName(*created, L"recvMessage", DispatchKind::PropertyPut, Variant::fromFunction(deliver));
    }
    if (FAILED(hr)) {
        control = ComPtr<IDispatch>();
        char why[200];
        std::snprintf(why, sizeof why,
                      "the control for %s cannot be created (0x%08X%s%s); run: zelvorn register --user",
                      site->pageOrigin().empty() ? "the host" : site->pageOrigin().c_str(), static_cast<unsigned>(hr),
                      detail.empty() ? "" : ": ", detail.c_str());
        callbacks.failed(why);
    }
}

void PageControl::post(std::string command)
{
    page->post([self = shared_from_this(), command = std::move(command)] {
        if (self->control)
            callByName(*self->control.get(), L"postMessage", DispatchKind::Method, Variant::fromUtf8Text(command));
    });
}

void PageControl::stopQueue()
{
    page->post([self = shared_from_this()] {
        if (auto queue = queueOf(self->control.get()))
            queue->StopQueue();
    });
}

bool PageControl::busy()
{
    bool running = false;
    page->invoke([&] {
        if (auto queue = queueOf(control.get()))
            queue->IsBusy(&running);
    });
    return running;
}

void PageControl::unload()
{
    page->post([self = shared_from_this()] {
        void* raw = nullptr;
        if (self->control && SUCCEEDED(self->control->QueryInterface(IID_IOleObject, &raw)))
            ComPtr<IOleObject>::adopt(static_cast<IOleObject*>(raw))->Close();
        self->control = ComPtr<IDispatch>();
        self->page->stop();
        self->callbacks.ended();
    });
}
