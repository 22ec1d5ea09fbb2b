#include "RegistrationCheck.h"

#include "host/CallByName.h"
#include "host/InstallLayout.h"
#include "platform/CreateByProgId.h"
#include "platform/Registry.h"
#include "support/Text.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace RegistrationCheck {

void noticeOtherUserModule()
{
    std::wstring registered;
    bool inUserHive = false;
    if (FAILED(findRegisteredModule(kControlProgId, registered, inUserHive)) || !inUserHive)
        return;
    const fs::path own = InstallLayout::module();
    std::error_code error;
    if (fs::equivalent(toUtf8(registered), own, error))
        return;
    std::fprintf(stderr,
                 "zelvorn: your registration in %s names the module %s, not this zelvorn's %s; "
                 "run `zelvorn register --user` to use this one\n",
                 Registry::hiveFile(Registry::Hive::User).c_str(), toUtf8(registered).c_str(), own.c_str());
}

}  // namespace RegistrationCheck
