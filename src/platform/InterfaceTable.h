// InterfaceTable: the process-wide table through which any thread reaches an object that lives
// in an apartment. Registering an interface keeps one reference to the object (and to its
// apartment) until the cookie is revoked.
//
// getInterface() on the owning apartment's thread gives the object itself; on any other thread
// it gives a proxy made by the proxy factory registered for the interface, whose calls are
// invoked on the owning apartment and wait there for their result.
// All operations are thread-safe; the table's lock is never held while a proxy call runs.
#pragma once

#include "platform/Apartment.h"
#include "platform/Unknown.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class InterfaceTable {
public:
    using Cookie = uint32_t;
    // Makes a proxy for `object` (already of the factory's interface) that carries each call to
    // `apartment`. Returns the proxy with one reference.
    using ProxyFactory = std::function<IUnknown*(IUnknown* object, std::shared_ptr<Apartment> apartment)>;

    static InterfaceTable& instance();

    // Registers `object`'s interface `iid`, owned by the calling thread's apartment.
    // E_FAIL when the caller is not on an apartment thread.
    HRESULT registerInterface(IUnknown* object, const GUID& iid, Cookie* cookie);
    // The interface for the cookie, with one reference for the caller (see above).
    HRESULT getInterface(Cookie cookie, const GUID& iid, void** out);
    // Drops the registration and its reference. E_INVALIDARG for an unknown cookie.
    HRESULT revoke(Cookie cookie);

    // Proxy factories stand for the proxy/stub code of each interface.
    void registerProxyFactory(const GUID& iid, ProxyFactory factory);

private:
    struct Entry {
        ComPtr<IUnknown> object;
        GUID iid;
        std::shared_ptr<Apartment> apartment;
    };

    std::mutex mutex;
    std::map<Cookie, Entry> entries;                            // guarded by mutex
    std::vector<std::pair<GUID, ProxyFactory>> proxyFactories;  // guarded by mutex
    Cookie nextCookie = 0x100;                                  // guarded by mutex
};

constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
