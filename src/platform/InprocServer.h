// The entry points every in-process server module exports with C linkage, as the types a host
// looks them up with (dlsym) and the module checks its definitions against.
#pragma once

#include "platform/Unknown.h"

// The class factory for `clsid`, answering `iid`; CLASS_E_CLASSNOTAVAILABLE for a class the
// module does not serve.
using DllGetClassObjectFunction = HRESULT (*)(const GUID& clsid, const GUID& iid, void** out);
// S_OK when nothing of the module is in use any more, else S_FALSE.
using DllCanUnloadNowFunction = HRESULT (*)();
// Writes (removes) the module's registration.
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();
// Registers (install) or unregisters; a command line of "user" selects the user's hive.
using DllInstallFunction = HRESULT (*)(bool install, const wchar_t* commandLine);
