// ScriptFunction: the page's callback as the control holds it (what the page hands to
// `recvMessage`). Reference counted; created by the host, held by the control.
//
// invoke() runs on the page's thread (the control calls it only there). Whatever the page
// side throws is caught and ignored, so one failing callback never stops later deliveries.
#pragma once

#include "platform/RefCounted.h"
#include "platform/Unknown.h"

#include <functional>
#include <string>

extern const GUID IID_IScriptFunction;

class ScriptFunction : public IUnknown {
public:
    using Callback = std::function<void(const std::wstring& text)>;

    // A new function with one reference, owned by the returned pointer.
    static ComPtr<ScriptFunction> create(Callback callback);

    void invoke(const std::wstring& text);

    HRESULT QueryInterface(const GUID& iid, void** out) override;
    uint32_t AddRef() override { return refs.addRef(); }
    uint32_t Release() override;

private:
    explicit ScriptFunction(Callback cb) : callback(std::move(cb)) {}
    Callback callback;
    RefCounted refs;
};
