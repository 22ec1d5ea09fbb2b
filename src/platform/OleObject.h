// IOleObject: the container's side of an embedded object's life. Of the platform's interface,
// the hosts here need one member: Close(), which a browser calls when the page holding the
// object unloads, before it lets go of it. Implemented by controls; called by hosts on the
// control's apartment thread.
#pragma once

#include "platform/Unknown.h"

extern const GUID IID_IOleObject;

struct IOleObject : IUnknown {
    static const GUID& uuid() { return IID_IOleObject; }

    // The page is going away: the object drops what ties it to the page and to the process's
    // tables, so that it is freed once its last reference goes.
    virtual HRESULT Close() = 0;
};
