// RefCounted: the reference count every object of ours carries behind IUnknown.
// AddRef and Release may be called from any thread; the last Release deletes the object.
#pragma once

#include <atomic>
#include <cstdint>

class RefCounted {
public:
    uint32_t addRef() { return ++count; }
    // True when this was the last reference: the caller deletes the object.
    bool releaseLast(uint32_t& remaining)
    {
        remaining = --count;
        return remaining == 0;
    }

private:
    std::atomic<uint32_t> count{0};
};
