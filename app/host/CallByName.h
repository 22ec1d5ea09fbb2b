// How a host scripts the control, as a page's script does: by the ProgID pages create it with,
// and by member name through IDispatch. Stateless; any host thread that may call the control.
#pragma once

#include "platform/Dispatch.h"

#include <utility>
#include <vector>

inline const wchar_t* const kControlProgId = L"Dravik.DownloaderPartition";

// Calls one member of the control by name.
inline HRESULT callByName(IDispatch& control, const wchar_t* name, DispatchKind kind, Variant argument)
{
    DISPID id = 0;
    HRESULT hr = control.GetIDsOfNames(name, &id);
    if (FAILED(hr))
        return hr;
    std::vector<Variant> args;  // not a braced list: that would copy the argument, megabytes for a folder
    args.push_back(std::move(argument));
    return control.Invoke(id, kind, args, nullptr);
}
