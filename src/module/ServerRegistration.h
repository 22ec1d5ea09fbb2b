// ServerRegistration: the registry content of the module: the application id, the class with
// its ProgIDs, and the type information of its scripting interface. Each function edits a hive
// already opened by the caller (CZelvornAppModule, inside one locked edit); no state.
#pragma once

#include "platform/Registry.h"

#include <string>

class ServerRegistration {
public:
    static void registerAppId(Registry& hive);
    // The class key is deleted first, so registering twice leaves one tree.
    static void registerClass(Registry& hive, const std::wstring& modulePath);
    // TypeLib\{LIBID}\1.0: the library's help string, the module that holds it and, under
    // IDownloaderPartition, each member with its dispatch id, kind and help string.
    static void registerTypeLibrary(Registry& hive, const std::wstring& modulePath);

    // Removal keeps the AppID, CLSID and TypeLib keys themselves.
    static void unregisterAppId(Registry& hive);
    static void unregisterClass(Registry& hive);
    static void unregisterTypeLibrary(Registry& hive);
};
