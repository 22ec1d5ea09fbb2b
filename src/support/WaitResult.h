// Time limits and results of the event waits, with the values of the kernel calls they stand for.
#pragma once

#include <cstdint>

namespace Dravik {
namespace Threading {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // wait without a time limit
constexpr uint32_t kWaitObject0 = 0;         // first signalled object (plus its index)
constexpr uint32_t kWaitTimeout = 258;       // the time limit passed first

}  // namespace Threading
}  // namespace Dravik
