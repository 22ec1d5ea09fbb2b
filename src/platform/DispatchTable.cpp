#include "platform/Dispatch.h"

HRESULT DispatchTable::idOfName(const std::wstring& name, DISPID* id) const
{
    if (!id)
        return E_POINTER;
    for (const auto& member : entries)
        if (member.name == name) {
            *id = member.id;
            return S_OK;
        }
    return DISP_E_UNKNOWNNAME;
}

const DispatchMember* DispatchTable::find(DISPID id) const
{
    for (const auto& member : entries)
        if (member.id == id)
            return &member;
    return nullptr;
}
