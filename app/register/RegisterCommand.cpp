#include "RegisterCommand.h"

#include "host/InstallLayout.h"

#include "platform/InprocServer.h"
#include "platform/Registry.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: zelvorn register [--user] [--unregister] [path/to/libzelvorn2.so]\n");
    return 2;
}

std::string reason(HRESULT hr)
{
    switch (hr) {
    case E_ACCESSDENIED:
        return "access denied to the registry file (the machine's needs root; --user writes your own)";
    case HRESULT_FROM_WIN32(ERROR_BADDB):
        return "the registry file is corrupt; it was left as it is";
    case HRESULT_FROM_WIN32(ERROR_CANTREAD):
        return "the registry file could not be read";
    case HRESULT_FROM_WIN32(ERROR_CANTWRITE):
        return "the registry file could not be written";
    case HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER):
        return "the module's path is 260 characters or longer";
    default:
        return "error";
    }
}

}  // namespace

int runRegister(int argc, char** argv)
{
    bool user = false;
    bool unregister = false;
    std::string module;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--user") == 0)
            user = true;
        else if (std::strcmp(argv[i], "--unregister") == 0)
            unregister = true;
        else if (argv[i][0] != '-' && module.empty())
            module = argv[i];
        else
            return usage();
    }
    if (module.empty())
        module = InstallLayout::module().string();

    // Registration runs no control: the module's code is loaded for its entry points only.
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "zelvorn: cannot load %s: %s\n", module.c_str(), dlerror());
        return 1;
    }
    HRESULT hr;
    const char* entry = user ? "DllInstall" : unregister ? "DllUnregisterServer" : "DllRegisterServer";
    void* symbol = dlsym(handle, entry);
    if (!symbol) {
        std::fprintf(stderr, "zelvorn: %s has no entry point %s\n", module.c_str(), entry);
        return 1;
    }
    if (user)
        hr = reinterpret_cast<DllInstallFunction>(symbol)(!unregister, L"user");
    else
        hr = reinterpret_cast<DllRegisterServerFunction>(symbol)();

    const std::string hive = Registry::hiveFile(user ? Registry::Hive::User : Registry::Hive::Machine);
    const char* action = unregister ? "unregister" : "register";
    if (FAILED(hr)) {
        std::fprintf(stderr, "zelvorn: could not %s %s in %s: %s (0x%08X)\n", action, module.c_str(), hive.c_str(),
                     reason(hr).c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("zelvorn: %sed %s in %s\n", action, module.c_str(), hive.c_str());
    return 0;
}
