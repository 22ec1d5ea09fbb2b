#include "platform/Guid.h"

#include "hosting/DownloadQueue.h"
#include "hosting/PageRules.h"
#include "platform/OleObject.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_IObjectSafety = {0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
const GUID IID_IObjectWithSite = {0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};

bool operator==(const GUID& a, const GUID& b)
{
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

std::wstring guidToString(const GUID& g)
{
    wchar_t buffer[40];
    std::swprintf(buffer, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return buffer;
}

bool guidFromString(const std::wstring& text, GUID& guid)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    unsigned int d1, d2, d3, b[8];
    wchar_t tail;
    int n = std::swscanf(text.c_str(), L"{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%lc", &d1, &d2, &d3, &b[0], &b[1], &b[2],
                         &b[3], &b[4], &b[5], &b[6], &b[7], &tail);
    if (n != 12 || tail != L'}')
        return false;
    guid.data1 = d1;
    guid.data2 = static_cast<uint16_t>(d2);
    guid.data3 = static_cast<uint16_t>(d3);
    for (int i = 0; i < 8; ++i)
        guid.data4[i] = static_cast<uint8_t>(b[i]);
    return true;
}
const GUID IID_IOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
