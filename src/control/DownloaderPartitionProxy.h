// DownloaderPartitionProxy: what a thread other than the page's gets for the control from the
// interface table. Each call is carried to the control's apartment and waits there for its
// result; when the apartment has ended a call fails with RPC_E_DISCONNECTED.
//
// Made by the interface table for one caller, released by that caller; holds a reference to
// the control and to its apartment while it lives.
#pragma once

#include "control/IDownloaderPartition.h"
#include "platform/Apartment.h"
#include "platform/ComObject.h"

#include <memory>

class DownloaderPartitionProxy : public ComObject<IDownloaderPartition> {
public:
    // Registers the proxy factory of IDownloaderPartition with the interface table (once).
    static void registerFactory();

    DownloaderPartitionProxy(IDownloaderPartition* target, std::shared_ptr<Apartment> apartment);

    HRESULT GetIDsOfNames(const std::wstring& name, DISPID* id) override;
    HRESULT Invoke(DISPID id, DispatchKind kind, std::vector<Variant>& args, Variant* result) override;

    HRESULT get_Version(std::wstring* version) override;
    HRESULT FireRecvMessage(const std::wstring& json) override;
    HRESULT postMessage(const std::wstring& text) override;
    HRESULT postMessageUtf8(const std::string& text) override;
    HRESULT put_recvMessage(ScriptFunction* function) override;

private:
    template <class Call>
    HRESULT carry(Call call);

    ComPtr<IDownloaderPartition> target;
    std::shared_ptr<Apartment> apartment;
};
