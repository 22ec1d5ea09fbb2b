#include "module/CDownloaderPartitionAggregate.h"

#include "module/CZelvornAppModule.h"

HRESULT CDownloaderPartitionAggregate::create(IUnknown* outer, void** out)
{
    ComPtr<CDownloaderPartitionAggregate> inner(new CDownloaderPartitionAggregate(outer));
    HRESULT hr = inner->control->construct();
    if (FAILED(hr))
        return hr;
    *out = static_cast<IUnknown*>(inner.detach());
    return S_OK;
}

CDownloaderPartitionAggregate::CDownloaderPartitionAggregate(IUnknown* outer) : control(new Contained(outer))
{
    CZelvornAppModule::instance().lock();
}

CDownloaderPartitionAggregate::~CDownloaderPartitionAggregate()
{
    delete control;
    CZelvornAppModule::instance().unlock();
}

HRESULT CDownloaderPartitionAggregate::QueryInterface(const GUID& iid, void** out)
{
    if (iid == IID_IUnknown)
        return ComObject::QueryInterface(iid, out);
    return out ? control->queryOwn(iid, out) : E_POINTER;
}
