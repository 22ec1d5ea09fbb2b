// CDownloaderPartition: the control a page creates and talks to in JSON text.
//
// Lives in the apartment (the page's thread) that created it. Every scripting member runs on
// that thread; sendText() may be called from any thread and carries the event to the page's
// thread. Construction installs the control as the task queue's event sender and registers it
// in the interface table; each holds a reference. The registration lasts until the page
// unloads (IOleObject::Close), the sender until a control created later replaces it, so a
// control lives while its page does and while jobs may still send to it, and no longer.
// Hosts reach it through IObjectSafety, IObjectWithSite, IOleObject and IDownloadQueue too,
// on the same thread.
#pragma once

#include "control/EventQueue.h"
#include "control/IDownloaderPartition.h"
#include "platform/Apartment.h"
#include "platform/ComObject.h"
#include "hosting/DownloadQueue.h"
#include "platform/InterfaceTable.h"
#include "platform/ObjectSafety.h"
#include "platform/ObjectWithSite.h"
#include "platform/OleObject.h"
#include "hosting/PageRules.h"
#include "support/ThreadChecker.h"

#include <json/value.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDownloaderPartition
    : public ComObject<IDownloaderPartition, IObjectSafety, IObjectWithSite, IOleObject, IDownloadQueue> {
public:
    using CommandHandler = std::function<void(Json::Value& message)>;

    static constexpr const wchar_t* kVersion = L"1,2,56,31650";

    // Creates a control in the calling thread's apartment and hands out one reference.
    // Fails with the registration's result when the calling thread is no apartment.
    static HRESULT create(CDownloaderPartition** out);

    HRESULT GetIDsOfNames(const std::wstring& name, DISPID* id) override;
    HRESULT Invoke(DISPID id, DispatchKind kind, std::vector<Variant>& args, Variant* result) override;

    HRESULT get_Version(std::wstring* version) override;
    HRESULT FireRecvMessage(const std::wstring& json) override;
    HRESULT postMessage(const std::wstring& text) override;
    HRESULT postMessageUtf8(const std::string& text) override;
    HRESULT put_recvMessage(ScriptFunction* function) override;

    HRESULT GetInterfaceSafetyOptions(const GUID& iid, uint32_t* supported, uint32_t* enabled) override;
    HRESULT SetInterfaceSafetyOptions(const GUID& iid, uint32_t mask, uint32_t enabled) override;
    HRESULT SetSite(IUnknown* site) override;
    HRESULT GetSite(const GUID& iid, void** out) override;

    // Drops the page's callback and site and leaves the interface table; later events are
    // dropped. Running downloads go on.
    HRESULT Close() override;

    HRESULT IsBusy(bool* busy) override;
    HRESULT AdviseIdle(std::function<void()> idle) override;
    HRESULT StopQueue() override;
    HRESULT RunningTasks(std::vector<int>* ids) override;

    // Sends one event, its JSON text on one line, to the page; any thread. On the page's thread it returns once the
    // page has handled it (and every event sent before it); from another thread it returns once
    // the event is queued for the page's thread, in the order of sending (EventQueue). Dropped
    // when there is no callback, the page has unloaded or its apartment has ended.
    void sendText(std::string&& event);
    // Returns once every event sent so far has reached the page; any thread.
    void flushEvents();

protected:
    // The module's creatable forms derive from the control and run the same construction.
    CDownloaderPartition();
    ~CDownloaderPartition() override;
    HRESULT construct();
    void fillCommands();

    // Command handlers: page's thread, inside postMessage. A member of the wrong type throws
    // the JSON library's error out of the handler before anything is changed.
    void onInit(Json::Value& message);
    void onOpenFolder(Json::Value& message);
    void onAddFile(Json::Value& message);
    void onAddFolder(Json::Value& message);
    void onStopFile(Json::Value& message);
    void onStartQueue(Json::Value& message);
    void onStopQueue(Json::Value& message);

private:
    // Page's thread: runs one command text (clean UTF-8) of at least four characters.
    void runCommand(const std::string& utf8);
    // Page's thread: delivers every queued event, oldest first.
    void deliverQueued();
    // Page's thread: hands one event text (UTF-8) to the page's callback.
    void deliver(const std::string& text);
    // A queue runs, a job still sends, or events are on their way to the page. Any thread.
    bool busyNow() const;
    // Runs the idle waiters once nothing is busy; any thread, after any end of work.
    void tellIfIdle();

    ThreadChecker m_pageThread;            // the thread that made the control
    ComPtr<ScriptFunction> m_recvMessage;  // page's thread only
    // Written by construct(), cleared once by Close() or the destructor; read by any sender.
    std::atomic<InterfaceTable::Cookie> m_gitCookie{0};
    std::map<std::string, CommandHandler> m_commands;  // filled at construction, then read-only
    EventQueue m_events;                               // events of other threads on their way to the page
    std::mutex m_idleLock;
    std::vector<std::function<void()>> m_idleWaiters;  // guarded by m_idleLock
    std::shared_ptr<Apartment> m_apartment;            // written once by construct()
    ComPtr<IUnknown> m_site;                           // page's thread only
    ComPtr<IPageRules> m_pageRules;                    // page's thread only: the site's rules for pages, if any
    uint32_t m_safetyOptions = 0;                      // page's thread only; the same for every interface
};
