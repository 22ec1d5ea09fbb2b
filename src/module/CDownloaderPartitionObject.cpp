#include "module/CDownloaderPartitionObject.h"

#include "module/CZelvornAppModule.h"

HRESULT CDownloaderPartitionObject::create(const GUID& iid, void** out)
{
    ComPtr<CDownloaderPartitionObject> object(new CDownloaderPartitionObject());
    HRESULT hr = object->construct();
    if (FAILED(hr))
        return hr;
    return object->QueryInterface(iid, out);
}

CDownloaderPartitionObject::CDownloaderPartitionObject()
{
    CZelvornAppModule::instance().lock();
}

CDownloaderPartitionObject::~CDownloaderPartitionObject()
{
    CZelvornAppModule::instance().unlock();
}
