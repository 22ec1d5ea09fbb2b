// Per-thread apartment entry, kept as a counter: every coInitializeEx() is paired with one
// coUninitialize() on the same thread. The first entry of a thread answers S_OK, nested ones
// S_FALSE.
#pragma once

#include "platform/HResult.h"

HRESULT coInitializeEx();
void coUninitialize();
