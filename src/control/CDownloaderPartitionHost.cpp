// The control's host-facing interfaces: IObjectSafety, IObjectWithSite, IOleObject and
// IDownloadQueue.
#include "control/CDownloaderPartition.h"

#include "component/Config.h"
#include "component/TaskMgr.h"

HRESULT CDownloaderPartition::GetInterfaceSafetyOptions(const GUID& iid, uint32_t* supported, uint32_t* enabled)
{
    m_pageThread.check("CDownloaderPartition::GetInterfaceSafetyOptions");
    if (!supported || !enabled)
        return E_POINTER;
    void* answered = nullptr;
    HRESULT hr = QueryInterface(iid, &answered);
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    static_cast<IUnknown*>(answered)->Release();
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    *enabled = m_safetyOptions;
    return S_OK;
}

HRESULT CDownloaderPartition::SetInterfaceSafetyOptions(const GUID& iid, uint32_t mask, uint32_t enabled)
{
    m_pageThread.check("CDownloaderPartition::SetInterfaceSafetyOptions");
    void* answered = nullptr;
    if (FAILED(QueryInterface(iid, &answered)))
        return E_NOINTERFACE;
    static_cast<IUnknown*>(answered)->Release();
    if (mask & ~INTERFACESAFE_FOR_UNTRUSTED_CALLER)
        return E_FAIL;
    m_safetyOptions = (m_safetyOptions & ~mask) | (enabled & mask);
    return S_OK;
}

HRESULT CDownloaderPartition::SetSite(IUnknown* site)
{
    m_pageThread.check("CDownloaderPartition::SetSite");
    m_site = ComPtr<IUnknown>(site);
    m_pageRules = ComPtr<IPageRules>();
    if (!site)
        return S_OK;
    // A host that serves pages says so through its site: from then on the pages' commands may
    // write only below the roots it names.
    m_pageRules = m_site.as<IPageRules>();
    if (!m_pageRules) {
        Config::instance().unconfine();
        return S_OK;
    }
    std::vector<std::wstring> roots;
    std::wstring logFolder;
    m_pageRules->GetDownloadRoots(&roots);
    m_pageRules->GetLogFolder(&logFolder);
    Config::instance().confineTo(roots, logFolder);
    return S_OK;
}

HRESULT CDownloaderPartition::GetSite(const GUID& iid, void** out)
{
    m_pageThread.check("CDownloaderPartition::GetSite");
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!m_site)
        return E_FAIL;
    return m_site->QueryInterface(iid, out);
}

HRESULT CDownloaderPartition::Close()
{
    m_pageThread.check("CDownloaderPartition::Close");
    m_recvMessage = ComPtr<ScriptFunction>();
    m_site = ComPtr<IUnknown>();
    m_pageRules = ComPtr<IPageRules>();
    m_events.close();
    tellIfIdle();
    if (const InterfaceTable::Cookie cookie = m_gitCookie.exchange(0))
        InterfaceTable::instance().revoke(cookie);
    return S_OK;
}

HRESULT CDownloaderPartition::IsBusy(bool* busy)
{
    if (!busy)
        return E_POINTER;
    // Idle only once every event has reached the page: a host may end then.
    *busy = busyNow();
    return S_OK;
}

HRESULT CDownloaderPartition::AdviseIdle(std::function<void()> idle)
{
    m_pageThread.check("CDownloaderPartition::AdviseIdle");
    if (!idle)
        return E_POINTER;
    {
        // Checked under the lock that the ends of work take before they look for waiters, so
        // an end between the check and the registration still finds this one.
        std::lock_guard<std::mutex> lock(m_idleLock);
        if (busyNow()) {
            m_idleWaiters.push_back(std::move(idle));
            return S_OK;
        }
    }
    idle();
    return S_OK;
}

HRESULT CDownloaderPartition::StopQueue()
{
    TaskMgr::instance().stopQueue();
    return S_OK;
}

HRESULT CDownloaderPartition::RunningTasks(std::vector<int>* ids)
{
    if (!ids)
        return E_POINTER;
    *ids = TaskMgr::instance().runningIds();
    return S_OK;
}
