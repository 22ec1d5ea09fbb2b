// CDownloaderPartitionFactory: the class factory of DownloaderPartition that DllGetClassObject
// hands out. Makes controls in the calling thread's apartment, plain or aggregated.
//
// Owned by its callers through its reference count; any thread. It holds no module lock of
// its own: a host that keeps it between creations calls LockServer(true).
#pragma once

#include "platform/ClassFactory.h"
#include "platform/ComObject.h"

class CDownloaderPartitionFactory : public ComObject<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** out) override;
    HRESULT LockServer(bool lock) override;
};
