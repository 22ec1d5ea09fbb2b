// Interface and class identifiers.
#pragma once

#include <cstdint>
#include <string>

struct GUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

bool operator==(const GUID& a, const GUID& b);
inline bool operator!=(const GUID& a, const GUID& b)
{
    return !(a == b);
}

// Registry form: upper-case hexadecimal in braces, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring guidToString(const GUID& guid);
// Parses the registry form; false when the text is not one.
bool guidFromString(const std::wstring& text, GUID& guid);

extern const GUID IID_IUnknown;
extern const GUID IID_IDispatch;
extern const GUID IID_IClassFactory;
extern const GUID IID_IObjectSafety;
extern const GUID IID_IObjectWithSite;
