// The control's fixed identifiers, constant across builds.
#pragma once

#include "platform/Guid.h"

extern const GUID CLSID_DownloaderPartition;
extern const GUID IID_IDownloaderPartition;
extern const GUID LIBID_ZelvornAppLib;
extern const GUID APPID_Zelvorn;
