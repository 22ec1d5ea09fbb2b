// HostSite: the host's own object that a control is given as its site, as a browser hands an
// embedded control its client site. It describes the page the control serves: its origin, ""
// for a host whose commands come from the user. For a page it also carries the rules of pages
// (IPageRules): the folders the user allows its downloads in (Settings), the log folder, and
// the folders the user picks for it, remembered for its origin.
//
// Created by a host for each control it makes; shared by reference count with the control.
// Any thread.
#pragma once

#include "hosting/PageRules.h"
#include "platform/ComObject.h"

#include <string>
#include <vector>

class HostSite : public ComObject<IPageRules> {
public:
    // A new site with one reference, owned by the returned pointer.
    static ComPtr<HostSite> create(std::string pageOrigin = "");

    const std::string& pageOrigin() const { return origin; }

    // A site without a page has no rules: it answers only as the site it is.
    HRESULT QueryInterface(const GUID& iid, void** out) override;

    HRESULT GetDownloadRoots(std::vector<std::wstring>* roots) override;
    HRESULT GetLogFolder(std::wstring* folder) override;
    HRESULT RememberFolder(const std::wstring& folder) override;

private:
    explicit HostSite(std::string pageOrigin) : origin(std::move(pageOrigin)) {}
    const std::string origin;
};
