// IObjectSafety: how a host learns, and sets, whether a control may be scripted by callers it
// does not trust. Implemented by controls; called by hosts on the control's apartment thread.
#pragma once

#include "platform/Unknown.h"

constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

struct IObjectSafety : IUnknown {
    static const GUID& uuid() { return IID_IObjectSafety; }

    // The options the object supports and has enabled for interface `iid`.
    virtual HRESULT GetInterfaceSafetyOptions(const GUID& iid, uint32_t* supported, uint32_t* enabled) = 0;
    // Sets the options under `mask` to those in `enabled`.
    virtual HRESULT SetInterfaceSafetyOptions(const GUID& iid, uint32_t mask, uint32_t enabled) = 0;
};
