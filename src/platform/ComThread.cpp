#include "platform/ComThread.h"

namespace {
thread_local int depth = 0;
}

HRESULT coInitializeEx()
{
    return depth++ == 0 ? S_OK : S_FALSE;
}

void coUninitialize()
{
    if (depth > 0)
        --depth;
}
