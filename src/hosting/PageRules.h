// IPageRules: what a host tells a control whose commands come from web pages or an extension,
// through the site it hands the control: where such a page may write. A control whose site
// has no rules serves the user directly (a terminal, a script), and its paths are taken as given.
// Called on the control's apartment thread.
#pragma once

#include "platform/Unknown.h"

#include <string>
#include <vector>

inline const GUID IID_IPageRules = {0x5A0C31E4, 0x6B7D, 0x4F2A, {0x9C, 0x1E, 0x3D, 0x84, 0x27, 0xB6, 0x51, 0x0F}};

struct IPageRules : IUnknown {
    static const GUID& uuid() { return IID_IPageRules; }

    // The folders below which the page's downloads may be written; the first is the download
    // folder of an "init" that names none.
    virtual HRESULT GetDownloadRoots(std::vector<std::wstring>* roots) = 0;
    // The folder the page's log file goes into.
    virtual HRESULT GetLogFolder(std::wstring* folder) = 0;
    // The user picked `folder` for the page in the folder dialog: the host remembers it as a
    // root of the page's origin.
    virtual HRESULT RememberFolder(const std::wstring& folder) = 0;
};
