#include "module/CDownloaderPartitionFactory.h"

#include "module/CDownloaderPartitionAggregate.h"
#include "module/CDownloaderPartitionObject.h"
#include "module/CZelvornAppModule.h"

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
