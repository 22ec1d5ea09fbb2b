#include "module/CDownloaderPartitionFactory.h"

#include "module/CDownloaderPartitionAggregate.h"
#include "module/CDownloaderPartitionObject.h"
#include "module/CZelvornAppModule.h"

HRESULT CDownloaderPartitionFactory::QueryInterface(const GUID& iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        AddRef();
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

uint32_t CDownloaderPartitionFactory::Release()
{
    uint32_t remaining;
    if (refs.releaseLast(remaining))
        delete this;
    return remaining;
}

HRESULT CDownloaderPartitionFactory::CreateInstance(IUnknown* outer, const GUID& iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!outer)
        return CDownloaderPartitionObject::create(iid, out);
    // An aggregated object is reached only through the inner unknown its outer object holds.
    if (iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    return CDownloaderPartitionAggregate::create(outer, out);
}

HRESULT CDownloaderPartitionFactory::LockServer(bool lock)
{
    if (lock)
        CZelvornAppModule::instance().lock();
    else
        CZelvornAppModule::instance().unlock();
    return S_OK;
}
