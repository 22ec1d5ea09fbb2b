// CDownloaderPartitionAggregate: the control aggregated into an outer object. This is the inner
// unknown the outer object holds: it answers the control's interfaces, and every interface it
// hands out counts references on, and answers queries through, the outer object.
//
// Owned by the outer object (through the inner unknown's count); lives in the creating
// apartment. Holds a lock on the module while it lives.
#pragma once

#include "control/CDownloaderPartition.h"

class CDownloaderPartitionAggregate : public ComObject<IUnknown> {
public:
    // The inner unknown of a new control inside `outer`, with one reference; fails with the
    // control's construction result.
    static HRESULT create(IUnknown* outer, void** out);

    // IUnknown is this object; every other interface is the control's.
    HRESULT QueryInterface(const GUID& iid, void** out) override;

private:
    // The control with its IUnknown delegated to the outer object.
    class Contained : public CDownloaderPartition {
    public:
        explicit Contained(IUnknown* owner) : outer(owner) {}
        ~Contained() override = default;
        HRESULT construct() { return CDownloaderPartition::construct(); }
        // The control's own answer, for the inner unknown.
        HRESULT queryOwn(const GUID& iid, void** out) { return CDownloaderPartition::QueryInterface(iid, out); }

        HRESULT QueryInterface(const GUID& iid, void** out) override { return outer->QueryInterface(iid, out); }
        uint32_t AddRef() override { return outer->AddRef(); }
        uint32_t Release() override { return outer->Release(); }

    private:
        IUnknown* const outer;  // not counted: the outer object owns this one
    };

    explicit CDownloaderPartitionAggregate(IUnknown* outer);
    ~CDownloaderPartitionAggregate() override;

    Contained* const control;  // owned; deleted with this object
};
