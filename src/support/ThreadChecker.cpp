#include "support/ThreadChecker.h"

#include <cstdio>
#include <cstdlib>

void ThreadChecker::fail(const char* operation)
{
    std::fprintf(stderr, "zelvorn: %s called on a thread that does not own it\n", operation);
    std::abort();
}
