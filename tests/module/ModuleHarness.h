// Helpers for tests of the real module: hive files of the test's own, and fresh copies of the
// built libzelvorn2.so loaded with dlopen.
//
// Each copy is a module of its own (own lock count, own per-user flag, own path); copies stay
// loaded until the process ends, as a host keeps a module whose controls may still run.
#pragma once

#include "common/TempFolder.h"
#include "platform/InprocServer.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// Points both hives at files in a temporary folder for the life of the object.
class TestHives {
public:
    TestHives()
    {
        setenv("ZELVORN_REGISTRY_MACHINE", machine().c_str(), 1);
        setenv("ZELVORN_REGISTRY_USER", user().c_str(), 1);
    }
    ~TestHives()
    {
        unsetenv("ZELVORN_REGISTRY_MACHINE");
        unsetenv("ZELVORN_REGISTRY_USER");
    }
    std::string machine() const { return (folder.path() / "machine" / "registry.json").string(); }
    std::string user() const { return (folder.path() / "user" / "registry.json").string(); }
    Registry read(const std::string& file) const
    {
        Registry hive;
        EXPECT_EQ(Registry::open(file, hive), S_OK) << file;
        return hive;
    }

    TempFolder folder;
};

// The object's reference count, read by taking and giving back one reference.
inline uint32_t countOf(IUnknown& object)
{
    const uint32_t now = object.AddRef();
    object.Release();
    return now - 1;
}

struct LoadedModule {
    // Copies the built module to `copy`, a path no module was loaded from before (a loaded file
    // must not be overwritten), and loads the copy.
    explicit LoadedModule(const std::filesystem::path& copy) : path(std::filesystem::weakly_canonical(copy).string())
    {
        std::filesystem::create_directories(copy.parent_path());
        EXPECT_TRUE(std::filesystem::copy_file(ZV_BINARY_DIR "/app/libzelvorn2.so", copy)) << copy;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<DllRegisterServerFunction>(dlsym(handle, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<DllUnregisterServerFunction>(dlsym(handle, "DllUnregisterServer"));
        install = reinterpret_cast<DllInstallFunction>(dlsym(handle, "DllInstall"));
    }

    std::string path;
    void* handle = nullptr;
    DllGetClassObjectFunction getClassObject = nullptr;
    DllCanUnloadNowFunction canUnloadNow = nullptr;
    DllRegisterServerFunction registerServer = nullptr;
    DllUnregisterServerFunction unregisterServer = nullptr;
    DllInstallFunction install = nullptr;
};
