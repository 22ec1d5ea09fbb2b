// ComObject: IUnknown written once. A class derives from ComObject<Interfaces...> and states
// only the interfaces it implements; this template counts its references and answers queries
// for them. Each interface names its identifier with a static uuid(); an interface that extends
// IDispatch answers for IDispatch too, and IUnknown is answered with the first interface.
//
// AddRef and Release may be called from any thread; the last Release deletes the object
// through its virtual destructor, so objects are made with new and owned by their references.
#pragma once

#include "platform/Unknown.h"

#include <atomic>
#include <cstdint>
#include <type_traits>

struct IDispatch;

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    HRESULT QueryInterface(const GUID& iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = iid == IID_IUnknown ? static_cast<IUnknown*>(static_cast<First*>(this)) : nullptr;
        if (!*out)
            (find<First>(iid, out) || ... || find<Rest>(iid, out));
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++references; }
    uint32_t Release() override
    {
        const uint32_t remaining = --references;
        if (remaining == 0)
            delete this;
        return remaining;
    }

protected:
    ComObject() = default;
    ~ComObject() override = default;

private:
    template <class Interface>
    bool find(const GUID& iid, void** out)
    {
        const bool dispatch = std::is_base_of_v<IDispatch, Interface> && iid == IID_IDispatch;
        if (iid == Interface::uuid() || dispatch)
            *out = static_cast<Interface*>(this);
        return *out != nullptr;
    }

    std::atomic<uint32_t> references{0};
};
