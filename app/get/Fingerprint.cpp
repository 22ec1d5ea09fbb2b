#include "Fingerprint.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

std::string fingerprint(const std::string& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}
