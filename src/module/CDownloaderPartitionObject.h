// CDownloaderPartitionObject: the control as the class factory makes it without an outer object.
// While it lives it holds a lock on the module, so the module is not unloaded under it.
//
// Lives in the creating apartment, like every control, until its last reference goes (the
// interface table holds one until the registration is revoked).
#pragma once

#include "control/CDownloaderPartition.h"

class CDownloaderPartitionObject : public CDownloaderPartition {
public:
    // A new control answering `iid`, made in the calling thread's apartment; fails with the
    // control's construction result.
    static HRESULT create(const GUID& iid, void** out);

private:
    CDownloaderPartitionObject();
    ~CDownloaderPartitionObject() override;
};
