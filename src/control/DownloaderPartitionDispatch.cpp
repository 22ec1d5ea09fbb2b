#include "control/IDownloaderPartition.h"

#include "support/Text.h"

const DispatchTable& downloaderPartitionDispatch()
{
    static const DispatchTable table({
        {L"Version", 1, DispatchKind::PropertyGet, L"属性 Version"},
        {L"FireRecvMessage", 2, DispatchKind::Method, L"方法FireRecvMessage"},
        {L"postMessage", 3, DispatchKind::Method, L"方法postMessage"},
        {L"recvMessage", 4, DispatchKind::PropertyPut, L"属性 recvMessage"},
    });
    return table;
}

HRESULT invokeDownloaderPartition(IDownloaderPartition& target, DISPID id, DispatchKind kind,
                                  std::vector<Variant>& args, Variant* result)
{
    const DispatchMember* member = downloaderPartitionDispatch().find(id);
    if (!member || member->kind != kind)
        return DISP_E_MEMBERNOTFOUND;
    const size_t expected = kind == DispatchKind::PropertyGet ? 0 : 1;
    if (args.size() != expected)
        return DISP_E_BADPARAMCOUNT;

    switch (id) {
    case 1: {
        std::wstring version;
        HRESULT hr = target.get_Version(&version);
        if (result && SUCCEEDED(hr))
            *result = Variant::fromText(version);
        return hr;
    }
    case 2:
    case 3:
        if (id == 3 && args[0].type == Variant::Type::Utf8Text)
            return target.postMessageUtf8(args[0].utf8);
        if (args[0].type == Variant::Type::Utf8Text)
            return target.FireRecvMessage(fromUtf8(args[0].utf8));
        if (args[0].type != Variant::Type::Text)
            return DISP_E_TYPEMISMATCH;
        return id == 2 ? target.FireRecvMessage(args[0].text) : target.postMessage(args[0].text);
    default:  // 4, recvMessage: a function, or empty to clear
        if (args[0].type == Variant::Type::Text || args[0].type == Variant::Type::Utf8Text)
            return DISP_E_TYPEMISMATCH;
        return target.put_recvMessage(args[0].function.get());
    }
}
