// ScriptFunction: the page's callback as the control holds it (what the page hands to
// `recvMessage`). Reference counted; created by the host, held by the control.
//
// invoke() runs on the page's thread (the control calls it only there). Whatever the page
// side throws is caught and ignored, so one failing callback never stops later deliveries.
#pragma once

#include "platform/ComObject.h"

#include <functional>
#include <string>

extern const GUID IID_IScriptFunction;

// The identity under which a page's function travels between hosts and the interface table.
struct IScriptFunction : IUnknown {
    static const GUID& uuid() { return IID_IScriptFunction; }
};

class ScriptFunction : public ComObject<IScriptFunction> {
public:
    using Callback = std::function<void(const std::wstring& text)>;

    // A new function with one reference, owned by the returned pointer.
    static ComPtr<ScriptFunction> create(Callback callback);

    void invoke(const std::wstring& text);

private:
    explicit ScriptFunction(Callback cb) : callback(std::move(cb)) {}
    Callback callback;
};
