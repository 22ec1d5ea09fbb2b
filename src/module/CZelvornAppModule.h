// CZelvornAppModule: the loaded module itself. It counts what keeps the module in use (every
// live control made through the class factory and every server lock), knows the module's own
// file, and writes and removes the module's registration.
//
// One per loaded copy of the module, created on first use and never destroyed (controls may
// outlive every host reference). Any thread: the count and the flag are atomics.
#pragma once

#include "platform/HResult.h"

#include <atomic>
#include <cstdint>
#include <string>

class CZelvornAppModule {
public:
    static CZelvornAppModule& instance();

    void lock() { ++m_lockCount; }
    void unlock() { --m_lockCount; }
    uint32_t lockCount() const { return m_lockCount; }

    // Registration goes to the user's hive from now on (until the module is unloaded).
    void setPerUser() { m_perUser = true; }

    // The module's full file name. A name of 260 characters or more does not fit the
    // registration's buffer: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
    static HRESULT modulePath(std::wstring* path);

    HRESULT registerServer();
    HRESULT unregisterServer();

private:
    CZelvornAppModule() = default;
    std::string hiveFile() const;

    std::atomic<uint32_t> m_lockCount{0};
    std::atomic<bool> m_perUser{false};
};
