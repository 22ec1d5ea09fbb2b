#include "platform/BlockedTime.h"

namespace BlockedTime {

namespace {

thread_local int64_t milliseconds = 0;

}  // namespace

int64_t total()
{
    return milliseconds;
}

Span::~Span()
{
    using namespace std::chrono;
    milliseconds += duration_cast<std::chrono::milliseconds>(steady_clock::now() - begun).count();
}

}  // namespace BlockedTime
