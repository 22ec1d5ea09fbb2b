// IUnknown: reference counting and interface queries, and ComPtr, the smart pointer that holds
// one reference. Objects delete themselves when their count drops to 0.
#pragma once

#include "platform/Guid.h"
#include "platform/HResult.h"

#include <cstdint>
#include <utility>

struct IUnknown {
    static const GUID& uuid() { return IID_IUnknown; }
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : ptr(p)
    {
        if (ptr)
            ptr->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.ptr) {}
    ComPtr(ComPtr&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    ~ComPtr()
    {
        if (ptr)
            ptr->Release();
    }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(ptr, other.ptr);
        return *this;
    }
    // Takes over a reference the caller already owns (an out parameter filled by a query).
    static ComPtr adopt(T* p)
    {
        ComPtr result;
        result.ptr = p;
        return result;
    }
    // The object's `Interface`, asked for with QueryInterface and its reference taken over;
    // null when the object has none (or this pointer is null).
    template <class Interface>
    ComPtr<Interface> as() const
    {
        void* found = nullptr;
        if (!ptr || FAILED(ptr->QueryInterface(Interface::uuid(), &found)))
            return ComPtr<Interface>();
        return ComPtr<Interface>::adopt(static_cast<Interface*>(found));
    }
    T* get() const { return ptr; }
    T* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    // Gives up the reference without releasing it.
    T* detach() { return std::exchange(ptr, nullptr); }

private:
    T* ptr = nullptr;
};
