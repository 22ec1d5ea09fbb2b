// fingerprint: a short text that changes whenever `bytes` do (FNV-1a, 64 bits, in 16 hex digits):
// no cryptography, only a sure sign of a change, or a name derived from a longer text.
// Reentrant.
#pragma once

#include <string>

std::string fingerprint(const std::string& bytes);
