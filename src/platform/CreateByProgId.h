// createByProgId: how a host makes a control, as a browser does: the class registered for the
// ProgID (the user's hive first, then the machine's, since per-user classes override the
// machine's), its module loaded, the instance made by the module's class factory in the calling
// thread's apartment, marked safe for scripting by untrusted callers and given the host's site.
//
// Call it on the apartment thread that is to own the control. A loaded module stays loaded for
// the rest of the process: its controls and the interface table may still run its code.
#pragma once

#include "platform/Dispatch.h"

#include <string>

// Results: CO_E_CLASSSTRING when the ProgID is not registered, REGDB_E_CLASSNOTREG when its
// class has no module, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the module cannot be loaded,
// CO_E_ERRORINDLL when it is no module, the registry's error for an unreadable hive, else the
// module's own. `detail` (optional) receives a text for a person: the loader's message or the
// module file.
HRESULT createByProgId(const std::wstring& progId, IUnknown* site, IDispatch** out, std::string* detail = nullptr);

// The module `progId` is registered with, as createByProgId finds it, without loading it;
// `inUserHive` tells whether the user's hive named it (hiding any machine registration).
HRESULT findRegisteredModule(const std::wstring& progId, std::wstring& modulePath, bool& inUserHive);
