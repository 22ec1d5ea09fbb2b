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

#include "component/Protocol.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

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

private:
    Config() = default;

    mutable std::mutex textLock;
    std::string cookieText;   // guarded by textLock
    std::wstring folderPath;  // guarded by textLock
};
