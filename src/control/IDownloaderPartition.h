// IDownloaderPartition: the control's scripting interface. Every member runs on the page's
// thread (a proxy carries calls from other threads there). Dispatch ids: Version 1,
// FireRecvMessage 2, postMessage 3, recvMessage 4.
#pragma once

#include "control/Guids.h"
#include "platform/Dispatch.h"

#include <string>

struct IDownloaderPartition : IDispatch {
    static const GUID& uuid() { return IID_IDownloaderPartition; }

    // The version text; a null out pointer is tolerated.
    virtual HRESULT get_Version(std::wstring* version) = 0;
    // Delivers one event text to the page's callback.
    virtual HRESULT FireRecvMessage(const std::wstring& json) = 0;
    // Command entry: one JSON text.
    virtual HRESULT postMessage(const std::wstring& text) = 0;
    // The same for a host that holds the text as UTF-8 (postMessage with a UTF-8 text argument):
    // no copy in wide characters on the way.
    virtual HRESULT postMessageUtf8(const std::string& text) = 0;
    // Stores the page's callback; null clears it.
    virtual HRESULT put_recvMessage(ScriptFunction* function) = 0;
};

// The members as scripting sees them, with their help strings.
const DispatchTable& downloaderPartitionDispatch();
// Invokes a member by dispatch id on any implementation of the interface.
HRESULT invokeDownloaderPartition(IDownloaderPartition& target, DISPID id, DispatchKind kind,
                                  std::vector<Variant>& args, Variant* result);
