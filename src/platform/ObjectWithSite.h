// IObjectWithSite: how a host hands a control the site (the host's object) that contains it.
// Implemented by controls; called by hosts on the control's apartment thread.
#pragma once

#include "platform/Unknown.h"

struct IObjectWithSite : IUnknown {
    static const GUID& uuid() { return IID_IObjectWithSite; }

    // Stores `site` (null clears it); the object keeps a reference.
    virtual HRESULT SetSite(IUnknown* site) = 0;
    // The stored site's answer to `iid`.
    virtual HRESULT GetSite(const GUID& iid, void** out) = 0;
};
