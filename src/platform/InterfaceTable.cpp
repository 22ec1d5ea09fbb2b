#include "platform/InterfaceTable.h"

InterfaceTable& InterfaceTable::instance()
{
    static InterfaceTable* const table = new InterfaceTable();  // outlives every static user
    return *table;
}

HRESULT InterfaceTable::registerInterface(IUnknown* object, const GUID& iid, Cookie* cookie)
{
    if (!object || !cookie)
        return E_POINTER;
    auto apartment = Apartment::current();
    if (!apartment)
        return E_FAIL;
    std::lock_guard<std::mutex> lock(mutex);
    *cookie = nextCookie++;
    entries[*cookie] = Entry{ComPtr<IUnknown>(object), iid, std::move(apartment)};
    return S_OK;
}

HRESULT InterfaceTable::getInterface(Cookie cookie, const GUID& iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IUnknown> object;
    std::shared_ptr<Apartment> apartment;
    ProxyFactory factory;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = entries.find(cookie);
        if (found == entries.end())
            return E_INVALIDARG;
        object = found->second.object;
        apartment = found->second.apartment;
        for (const auto& entry : proxyFactories)
            if (entry.first == iid)
                factory = entry.second;
    }
    if (apartment->isCurrent())
        return object->QueryInterface(iid, out);
    if (!factory)
        return E_NOINTERFACE;
    void* typed = nullptr;
    HRESULT hr = object->QueryInterface(iid, &typed);
    if (FAILED(hr))
        return hr;
    auto* unknown = static_cast<IUnknown*>(typed);
    // The proxy keeps its own reference to the object; the query's one is dropped here.
    *out = factory(unknown, apartment);
    unknown->Release();
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT InterfaceTable::revoke(Cookie cookie)
{
    ComPtr<IUnknown> released;  // released after the lock: the object's destructor may call in
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = entries.find(cookie);
        if (found == entries.end())
            return E_INVALIDARG;
        released = std::move(found->second.object);
        entries.erase(found);
    }
    return S_OK;
}

void InterfaceTable::registerProxyFactory(const GUID& iid, ProxyFactory factory)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& entry : proxyFactories)
        if (entry.first == iid) {
            entry.second = std::move(factory);
            return;
        }
    proxyFactories.emplace_back(iid, std::move(factory));
}
