// IClassFactory: what a module hands out for one of its classes, to make instances of it.
// Owned by the caller of the module's DllGetClassObject; instances are made in the calling
// thread's apartment.
#pragma once

#include "platform/Unknown.h"

struct IClassFactory : IUnknown {
    static const GUID& uuid() { return IID_IClassFactory; }

    // A new instance answering `iid`. With an `outer` object the instance is aggregated: `iid`
    // must then be IID_IUnknown and `out` receives the instance's own (inner) unknown.
    virtual HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** out) = 0;
    // true keeps the module loaded until a matching call with false.
    virtual HRESULT LockServer(bool lock) = 0;
};
