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
    using Utf8Callback = std::function<void(const std::string& text)>;

    // A new function with one reference, owned by the returned pointer: one that takes the
    // text as wide characters, as a script does, or one that takes it as UTF-8, as a host
    // that passes it on does (no conversion there and back).
    static ComPtr<ScriptFunction> create(Callback callback);
    static ComPtr<ScriptFunction> createUtf8(Utf8Callback callback);

    void invoke(const std::wstring& text);
    void invokeUtf8(const std::string& text);

private:
    ScriptFunction(Callback wide, Utf8Callback utf8) : callback(std::move(wide)), utf8Callback(std::move(utf8)) {}
    const Callback callback;  // one of the two is set
    const Utf8Callback utf8Callback;
};
