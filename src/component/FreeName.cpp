#include "component/FreeName.h"

#include "support/Path.h"
#include "support/Text.h"

#include <mutex>
#include <unordered_map>

namespace FreeName {

namespace {

// A hint only: forgetting it costs a longer search once, never a wrong name.
const size_t kMaxRemembered = 4096;

std::mutex memoryLock;
std::unordered_map<std::wstring, uint64_t>& nextNumbers()  // guarded by memoryLock
{
    static auto* const numbers = new std::unordered_map<std::wstring, uint64_t>();  // outlives detached workers
    return *numbers;
}

uint64_t rememberedNumber(const std::wstring& key)
{
    std::lock_guard<std::mutex> lock(memoryLock);
    const auto found = nextNumbers().find(key);
    return found == nextNumbers().end() ? 1 : found->second;
}

void remember(const std::wstring& key, uint64_t next)
{
    std::lock_guard<std::mutex> lock(memoryLock);
    auto& numbers = nextNumbers();
    if (numbers.size() >= kMaxRemembered && !numbers.count(key))
        numbers.clear();
    uint64_t& stored = numbers[key];
    if (next > stored)
        stored = next;
}

}  // namespace

std::wstring claim(const std::wstring& folder, const std::wstring& name,
                   const std::function<Attempt(const std::wstring& candidate)>& attempt)
{
    switch (attempt(name)) {
    case Attempt::made:
        return name;
    case Attempt::failed:
        return std::wstring();
    case Attempt::taken:
        break;
    }
    const std::wstring key = folder + L'\n' + name;
    for (uint64_t n = rememberedNumber(key);; ++n) {
        const std::wstring candidate = numberedFileName(name, n);
        const Attempt outcome = attempt(candidate);
        if (outcome == Attempt::taken)
            continue;
        remember(key, n + 1);
        return outcome == Attempt::made ? candidate : std::wstring();
    }
}

}  // namespace FreeName
