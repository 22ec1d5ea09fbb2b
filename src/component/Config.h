// Config: the process-wide settings that the page gives with "init" (and "open_folder").
//
// One instance, created on first use and kept until the process ends; shared by every control.
// Written on the page's thread only; read by the queue thread and the job threads while they run.
//
// Guarding: `threadCount` and `filePart` are atomics, so a reader sees either the old or the new
// number. The texts cannot be replaced atomically, so they are private and handed out as copies
// taken under `textLock`: a job that copies the cookie while "init" rewrites it gets one whole
// text, never half of each.
#pragma once

#include "hosting/Protocol.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class Config {
public:
    static Config& instance();

    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Jobs that may run at once; the queue reads it when it starts.
    std::atomic<int32_t> threadCount{1};
    // Bytes of growth between two "down_part" events.
    std::atomic<int32_t> filePart{Protocol::kDefaultFilePart};
    // Seconds a transfer may receive nothing (connecting, awaiting the answer, mid-body) before
    // it fails. Not a page setting: hosts may shorten it.
    std::atomic<int32_t> stallSeconds{60};

    // Text of the Cookie header of every request (UTF-8).
    std::string cookie() const;
    void setCookie(const std::string& text);
    // Local root folder for downloads.
    std::wstring folder() const;
    void setFolder(const std::wstring& path);

    // The rules for a control that serves web pages, set by its host before the first command:
    // pages may then download only below `roots` (the first is the folder of an empty
    // "Folder"), and their log goes into `logFolder`. Without them (a host whose commands come
    // from the user) paths are taken as given.
    void confineTo(const std::vector<std::wstring>& roots, const std::wstring& logFolder);
    // Back to paths as given: the host's commands come from the user.
    void unconfine();
    bool confined() const;
    // A folder the user picked for the page: allowed from now on.
    void allowRoot(const std::wstring& root);
    std::wstring defaultRoot() const;
    std::wstring logFolder() const;
    // `resolvedFolder` (links resolved) is one of the allowed roots or lies below one.
    bool allowsFolder(const std::wstring& resolvedFolder) const;

private:
    Config() = default;

    mutable std::mutex textLock;
    std::string cookieText;             // guarded by textLock
    std::wstring folderPath;            // guarded by textLock
    bool confinedToRoots = false;       // guarded by textLock
    std::vector<std::wstring> allowed;  // guarded by textLock
    std::wstring logFolderPath;         // guarded by textLock
};
