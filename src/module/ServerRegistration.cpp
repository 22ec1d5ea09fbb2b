#include "module/ServerRegistration.h"

#include "control/Guids.h"
#include "control/IDownloaderPartition.h"

#include <filesystem>

namespace {

const wchar_t* const kClassName = L"DownloaderPartition Class";
const wchar_t* const kProgId = L"Dravik.DownloaderPartition.1";
const wchar_t* const kIndependentProgId = L"Dravik.DownloaderPartition";
const wchar_t* const kAppIdModule = L"AppID\\Zelvorn.DLL";

std::wstring classKey()
{
    return L"CLSID\\" + guidToString(CLSID_DownloaderPartition);
}

std::wstring libraryKey()
{
    return L"TypeLib\\" + guidToString(LIBID_ZelvornAppLib);
}

const wchar_t* kindName(DispatchKind kind)
{
    switch (kind) {
    case DispatchKind::PropertyGet:
        return L"propget";
    case DispatchKind::PropertyPut:
        return L"propput";
    default:
        return L"method";
    }
}

}  // namespace

void ServerRegistration::registerAppId(Registry& hive)
{
    const std::wstring appId = guidToString(APPID_Zelvorn);
    hive.setValue(L"AppID\\" + appId, L"", L"Zelvorn");
    hive.setValue(kAppIdModule, L"AppID", appId);
}

void ServerRegistration::registerClass(Registry& hive, const std::wstring& modulePath)
{
    const std::wstring clsid = guidToString(CLSID_DownloaderPartition);
    hive.setValue(kProgId, L"", kClassName);
    hive.setValue(std::wstring(kProgId) + L"\\CLSID", L"", clsid);
    hive.setValue(kIndependentProgId, L"", kClassName);
    hive.setValue(std::wstring(kIndependentProgId) + L"\\CurVer", L"", kProgId);

    const std::wstring key = classKey();
    hive.deleteTree(key);
    hive.setValue(key, L"", kClassName);
    hive.setValue(key + L"\\ProgID", L"", kProgId);
    hive.setValue(key + L"\\VersionIndependentProgID", L"", kIndependentProgId);
    hive.createKey(key + L"\\Programmable");
    hive.setValue(key + L"\\InprocServer32", L"", modulePath);
    hive.setValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    hive.setValue(key + L"\\TypeLib", L"", guidToString(LIBID_ZelvornAppLib));
    hive.setValue(key + L"\\Version", L"", L"1.0");
}

void ServerRegistration::registerTypeLibrary(Registry& hive, const std::wstring& modulePath)
{
    const std::wstring version = libraryKey() + L"\\1.0";
    hive.deleteTree(version);
    hive.setValue(version, L"", L"ZelvornApp 1.0 类型库");
    hive.setValue(version + L"\\0\\linux", L"", modulePath);
    hive.setValue(version + L"\\FLAGS", L"", L"0");
    hive.setValue(version + L"\\HELPDIR", L"", std::filesystem::path(modulePath).parent_path().wstring());

    const std::wstring interfaceKey = version + L"\\IDownloaderPartition";
    hive.setValue(interfaceKey, L"", guidToString(IID_IDownloaderPartition));
    for (const auto& member : downloaderPartitionDispatch().members()) {
        const std::wstring memberKey = interfaceKey + L"\\" + member.name;
        hive.setValue(memberKey, L"DispID", std::to_wstring(member.id));
        hive.setValue(memberKey, L"Kind", kindName(member.kind));
        hive.setValue(memberKey, L"HelpString", member.helpString);
    }
}

void ServerRegistration::unregisterAppId(Registry& hive)
{
    hive.deleteTree(L"AppID\\" + guidToString(APPID_Zelvorn));
    hive.deleteTree(kAppIdModule);
}

void ServerRegistration::unregisterClass(Registry& hive)
{
    hive.deleteTree(classKey());
    hive.deleteTree(kProgId);
    hive.deleteTree(kIndependentProgId);
}

void ServerRegistration::unregisterTypeLibrary(Registry& hive)
{
    hive.deleteTree(libraryKey() + L"\\1.0");
    // The library's key goes with its last version.
    if (hive.hasKey(libraryKey()) && hive.subkeys(libraryKey()).empty())
        hive.deleteTree(libraryKey());
}
