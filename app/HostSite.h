// HostSite: the host's own object that a control is given as its site, as a browser hands an
// embedded control its client site. Beyond its identity it only describes the page the control
// serves: its origin ("" for a host without pages).
//
// Created by a host for each control it makes; shared by reference count with the control.
// Any thread.
#pragma once

#include "platform/ComObject.h"

#include <string>

class HostSite : public ComObject<IUnknown> {
public:
    // A new site with one reference, owned by the returned pointer.
    static ComPtr<HostSite> create(std::string pageOrigin = "");

    const std::string& pageOrigin() const { return origin; }

private:
    explicit HostSite(std::string pageOrigin) : origin(std::move(pageOrigin)) {}
    const std::string origin;
};
