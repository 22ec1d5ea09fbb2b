// Registry: one hive of the registry stand-in, a tree of keys with named text values kept in a
// JSON file. The machine hive stands for HKEY_CLASSES_ROOT, the user hive for
// HKEY_CURRENT_USER\Software\Classes.
//
// A Registry object is a copy of the hive in memory, owned by the code that opened it and used
// on that one thread for one lookup or one edit. The file is shared between processes: edit()
// holds an exclusive lock on the hive's folder from reading to writing, and every write
// replaces the file atomically, so readers never see half a hive.
//
// Hive files: the environment variables ZELVORN_REGISTRY_MACHINE and ZELVORN_REGISTRY_USER name
// them when set; otherwise /etc/zelvorn/registry.json and $XDG_CONFIG_HOME/zelvorn/registry.json
// (~/.config when XDG_CONFIG_HOME is unset).
//
// Key paths are written with backslashes ("CLSID\{...}\InprocServer32"). Key and value names
// compare without regard to the case of ASCII letters, as in the original registry; a key keeps
// the spelling it was created with. The value name "" is the key's default value.
#pragma once

#include "platform/HResult.h"

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

class Registry {
public:
    enum class Hive { Machine, User };

    static std::string hiveFile(Hive hive);

    // Reads a hive file. A missing file is an empty hive; a file that is not a hive gives
    // HRESULT_FROM_WIN32(ERROR_BADDB), one that cannot be read E_ACCESSDENIED or ERROR_CANTREAD.
    static HRESULT open(const std::string& file, Registry& out);
    // Reads the hive under an exclusive lock of its folder (created when missing), runs `change`
    // on it and, when `change` succeeds, writes the result atomically. The file is left as it was
    // when anything fails: a corrupt hive is never replaced.
    static HRESULT edit(const std::string& file, const std::function<HRESULT(Registry&)>& change);

    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the key or the value does not exist.
    HRESULT queryValue(const std::wstring& key, const std::wstring& name, std::wstring* data) const;
    bool hasKey(const std::wstring& key) const;
    // Creates the key and any missing parents.
    void createKey(const std::wstring& key);
    void setValue(const std::wstring& key, const std::wstring& name, const std::wstring& data);
    // The names of the key's direct subkeys, as they are spelled; none for a missing key.
    std::vector<std::wstring> subkeys(const std::wstring& key) const;
    // Removes the key with all its subkeys; false when there was none.
    bool deleteTree(const std::wstring& key);

private:
    // The key object at `path`, or null; create makes the missing keys.
    const Json::Value* find(const std::wstring& path) const;
    Json::Value* findOrCreate(const std::wstring& path);
    HRESULT save() const;

    std::string file;
    Json::Value root{Json::objectValue};
};
