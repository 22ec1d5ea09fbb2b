#include "control/CDownloaderPartition.h"

#include "component/TaskMgr.h"
#include "control/DownloaderPartitionProxy.h"
#include "hosting/Protocol.h"
#include "log/Log.h"
#include "platform/DeferredWake.h"
#include "support/JsonText.h"
#include "support/Text.h"

HRESULT CDownloaderPartition::create(CDownloaderPartition** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<CDownloaderPartition> control(new CDownloaderPartition());
    HRESULT hr = control->construct();
    if (FAILED(hr))
        return hr;
    *out = control.detach();
    return S_OK;
}

CDownloaderPartition::CDownloaderPartition() = default;

CDownloaderPartition::~CDownloaderPartition()
{
    m_events.close();
    // The table's own reference keeps the control alive while registered, so this only
    // clears a registration that was already revoked.
    if (const InterfaceTable::Cookie cookie = m_gitCookie.exchange(0))
        InterfaceTable::instance().revoke(cookie);
}

HRESULT CDownloaderPartition::construct()
{
    fillCommands();
    DownloaderPartitionProxy::registerFactory();
    m_apartment = Apartment::current();
    InterfaceTable::Cookie cookie = 0;
    HRESULT hr = InterfaceTable::instance().registerInterface(static_cast<IDownloaderPartition*>(this),
                                                              IID_IDownloaderPartition, &cookie);
    if (FAILED(hr))
        return hr;
    m_gitCookie = cookie;
    // Only a control that will exist becomes the event sender: a failed creation must not
    // leave the queue sending to a deleted object. The sender holds a reference, so a page
    // that unloads never leaves it pointing at a freed control.
    // One reference, shared by the two: the control counts one holder of it.
    const auto self = std::make_shared<const ComPtr<CDownloaderPartition>>(this);
    TaskMgr::instance().setSender([self](std::string&& event) { (*self)->sendText(std::move(event)); },
                                  [self] { (*self)->flushEvents(); }, [self] { (*self)->tellIfIdle(); });
    return S_OK;
}

HRESULT CDownloaderPartition::GetIDsOfNames(const std::wstring& name, DISPID* id)
{
    return downloaderPartitionDispatch().idOfName(name, id);
}

HRESULT CDownloaderPartition::Invoke(DISPID id, DispatchKind kind, std::vector<Variant>& args, Variant* result)
{
    return invokeDownloaderPartition(*this, id, kind, args, result);
}

HRESULT CDownloaderPartition::get_Version(std::wstring* version)
{
    if (version)
        *version = kVersion;
    return S_OK;
}

HRESULT CDownloaderPartition::put_recvMessage(ScriptFunction* function)
{
    m_pageThread.check("CDownloaderPartition::put_recvMessage");
    if (m_recvMessage.get() != function)
        m_recvMessage = ComPtr<ScriptFunction>(function);
    return S_OK;
}

HRESULT CDownloaderPartition::postMessage(const std::wstring& text)
{
    m_pageThread.check("CDownloaderPartition::postMessage");
    if (text.size() < 4)
        return S_OK;
    runCommand(toUtf8(text));
    return S_OK;
}

HRESULT CDownloaderPartition::postMessageUtf8(const std::string& text)
{
    m_pageThread.check("CDownloaderPartition::postMessageUtf8");
    // Most commands are clean already, and a folder's may be megabytes long: copied only when
    // it has to change.
    const bool clean = isCleanUtf8(text);
    const std::string cleaned = clean ? std::string() : cleanUtf8(text);
    const std::string& utf8 = clean ? text : cleaned;
    // Texts of fewer than four characters are ignored, as they are in wide characters.
    size_t characters = 0;
    for (size_t i = 0; i < utf8.size() && characters < 4; ++i)
        characters += (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
    if (characters >= 4)
        runCommand(utf8);
    return S_OK;
}

void CDownloaderPartition::runCommand(const std::string& utf8)
{
    // A call the page's thread runs while this command waits (a dialog, a send turn) may be the
    // host letting go of the control: it stays alive until the command is over.
    const ComPtr<CDownloaderPartition> self(this);
    Json::Value message;
    if (!parseJson(utf8, message) || !message.isObject()) {
        ZLOG("命令无法解析,长度:" << utf8.size());
        return;
    }
    const Json::Value& name = message[Protocol::Member::name];
    if (!name.isString())
        return;
    auto row = m_commands.find(name.asString());
    if (row == m_commands.end())
        return;
    try {
        row->second(message);
    } catch (const std::exception& error) {
        // A member of the wrong type: the command is dropped, the host stays up.
        ZLOG("命令执行失败,name:" << row->first << ",错误:" << error.what());
    }
}

HRESULT CDownloaderPartition::FireRecvMessage(const std::wstring& json)
{
    m_pageThread.check("CDownloaderPartition::FireRecvMessage");
    if (!m_recvMessage)
        return S_OK;
    ComPtr<ScriptFunction> callback = m_recvMessage;  // the page may replace it while it runs
    callback->invoke(json);
    return S_OK;
}

void CDownloaderPartition::sendText(std::string&& text)
{
    if (!m_gitCookie.load())
        return;  // the page has unloaded
    if (m_apartment->isCurrent()) {
        // An event of the page's own thread comes after everything sent before it.
        deliverQueued();
        deliver(text);
        return;
    }
    if (m_events.push(std::move(text)) != EventQueue::Pushed::needsDrain)
        return;
    auto wake = [self = ComPtr<CDownloaderPartition>(this)] {
        if (!self->m_apartment->post([self] { self->deliverQueued(); }))
            self->m_events.close();  // the page's thread has ended: nobody will take them
    };
    // A worker wakes the page once its burst of events is over (DeferredWake).
    if (!DeferredWake::defer(wake))
        wake();
}

void CDownloaderPartition::flushEvents()
{
    if (m_apartment->isCurrent())
        deliverQueued();
    else
        m_apartment->invoke([this] { deliverQueued(); });
}

void CDownloaderPartition::deliverQueued()
{
    m_pageThread.check("CDownloaderPartition::deliverQueued");
    std::string text;
    while (m_events.pop(text))
        deliver(text);
    tellIfIdle();
}

bool CDownloaderPartition::busyNow() const
{
    return TaskMgr::instance().isBusy() || m_events.busy();
}

void CDownloaderPartition::tellIfIdle()
{
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> lock(m_idleLock);
        if (m_idleWaiters.empty() || busyNow())
            return;
        due.swap(m_idleWaiters);
    }
    for (auto& idle : due)
        idle();
}

void CDownloaderPartition::deliver(const std::string& text)
{
    if (!m_recvMessage || !m_gitCookie.load())
        return;
    ComPtr<ScriptFunction> callback = m_recvMessage;  // the page may replace it while it runs
    callback->invokeUtf8(text);
}
