#include "control/DownloaderPartitionProxy.h"

#include "platform/InterfaceTable.h"

#include <mutex>

void DownloaderPartitionProxy::registerFactory()
{
    static std::once_flag once;
    std::call_once(once, [] {
        InterfaceTable::instance().registerProxyFactory(
            IID_IDownloaderPartition, [](IUnknown* object, std::shared_ptr<Apartment> home) -> IUnknown* {
                auto* proxy = new DownloaderPartitionProxy(static_cast<IDownloaderPartition*>(object), std::move(home));
                proxy->AddRef();
                return static_cast<IDownloaderPartition*>(proxy);
            });
    });
}

DownloaderPartitionProxy::DownloaderPartitionProxy(IDownloaderPartition* t, std::shared_ptr<Apartment> a)
    : target(t), apartment(std::move(a))
{
}

template <class Call>
HRESULT DownloaderPartitionProxy::carry(Call call)
{
    HRESULT hr = RPC_E_DISCONNECTED;
    apartment->invoke([&] { hr = call(*target.get()); });
    return hr;
}

HRESULT DownloaderPartitionProxy::GetIDsOfNames(const std::wstring& name, DISPID* id)
{
    return downloaderPartitionDispatch().idOfName(name, id);
}

HRESULT DownloaderPartitionProxy::Invoke(DISPID id, DispatchKind kind, std::vector<Variant>& args, Variant* result)
{
    return carry([&](IDownloaderPartition& t) { return t.Invoke(id, kind, args, result); });
}

HRESULT DownloaderPartitionProxy::get_Version(std::wstring* version)
{
    return carry([&](IDownloaderPartition& t) { return t.get_Version(version); });
}

HRESULT DownloaderPartitionProxy::FireRecvMessage(const std::wstring& json)
{
    return carry([&](IDownloaderPartition& t) { return t.FireRecvMessage(json); });
}

HRESULT DownloaderPartitionProxy::postMessage(const std::wstring& text)
{
    return carry([&](IDownloaderPartition& t) { return t.postMessage(text); });
}

HRESULT DownloaderPartitionProxy::postMessageUtf8(const std::string& text)
{
    return carry([&](IDownloaderPartition& t) { return t.postMessageUtf8(text); });
}

HRESULT DownloaderPartitionProxy::put_recvMessage(ScriptFunction* function)
{
    ComPtr<ScriptFunction> held(function);
    return carry([&](IDownloaderPartition& t) { return t.put_recvMessage(held.get()); });
}
