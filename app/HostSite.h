// HostSite: the host's own object that a control is given as its site, as a browser hands an
// embedded control its client site. Beyond its identity it only describes the page the control
// serves: its origin ("" for a host without pages).
//
// Created by a host for each control it makes; shared by reference count with the control.
// Any thread.
#pragma once

#include "platform/RefCounted.h"
#include "platform/Unknown.h"

#include <string>

class HostSite : public IUnknown {
public:
    // A new site with one reference, owned by the returned pointer.
    static ComPtr<HostSite> create(std::string pageOrigin = "");

    const std::string& pageOrigin() const { return origin; }

    HRESULT QueryInterface(const GUID& iid, void** out) override;
    uint32_t AddRef() override { return refs.addRef(); }
    uint32_t Release() override;

private:
    explicit HostSite(std::string pageOrigin) : origin(std::move(pageOrigin)) {}
    const std::string origin;
    RefCounted refs;
};
