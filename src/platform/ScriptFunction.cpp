#include "platform/ScriptFunction.h"

#include "support/Text.h"

const GUID IID_IScriptFunction = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

ComPtr<ScriptFunction> ScriptFunction::create(Callback callback)
{
    return ComPtr<ScriptFunction>(new ScriptFunction(std::move(callback), nullptr));
}

ComPtr<ScriptFunction> ScriptFunction::createUtf8(Utf8Callback callback)
{
    return ComPtr<ScriptFunction>(new ScriptFunction(nullptr, std::move(callback)));
}

void ScriptFunction::invoke(const std::wstring& text)
{
    try {
        if (callback)
            callback(text);
        else
            utf8Callback(toUtf8(text));
    } catch (...) {
        // The page's failure is its own; the next event is delivered as usual.
    }
}

void ScriptFunction::invokeUtf8(const std::string& text)
{
    try {
        if (utf8Callback)
            utf8Callback(text);
        else
            callback(fromUtf8(text));
    } catch (...) {
        // The page's failure is its own; the next event is delivered as usual.
    }
}
