#include "Sidecar.h"

#include "BoundedRead.h"
#include "HostedControl.h"
#include "platform/AtomicFile.h"
#include "support/JsonText.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

const int kFormat = 1;
const char* const kFormatMember = "zelvornGet";
const char* const kTaskMember = "task";
const char* const kCheckMember = "check";

// FNV-1a, 64 bits: no cryptography, only a sure sign that the bytes changed.
uint64_t fnv1a(const std::string& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string hex(uint64_t value, int digits)
{
    char text[17];
    std::snprintf(text, sizeof text, "%0*" PRIx64, digits, value);
    return text;
}

std::string checkOf(const Json::Value& task)
{
    return hex(fnv1a(writeCompactJson(task)), 16);
}

}  // namespace

Sidecar::Sidecar(const std::string& folder, const std::string& name, const std::string& key)
    : file(folder + "/" + name + "." + hex(fnv1a(key) & 0xffffffffULL, 8) + ".zelvorn")
{
}

Sidecar::State Sidecar::load(Json::Value& task, std::string& why) const
{
    std::error_code error;
    if (!std::filesystem::exists(file, error) && !error)
        return State::missing;
    // A sidecar holds one task object: anything longer than a command is not one.
    std::string text;
    if (!readBounded(file, HostedControl::kMaxCommandBytes, text, why)) {
        why = "it " + why;
        return State::damaged;
    }
    Json::Value saved;
    if (!parseJson(text, saved) || !saved.isObject()) {
        why = "it is not the JSON object it was written as";
        return State::damaged;
    }
    if (!saved[kFormatMember].isInt() || saved[kFormatMember].asInt() != kFormat) {
        why = "it is written in another format";
        return State::damaged;
    }
    const Json::Value& check = saved[kCheckMember];
    if (!saved[kTaskMember].isObject() || !check.isString() || check.asString() != checkOf(saved[kTaskMember])) {
        why = "its content does not match its checksum";
        return State::damaged;
    }
    task = saved[kTaskMember];
    return State::loaded;
}

bool Sidecar::save(const Json::Value& task, std::string& error) const
{
    Json::Value saved;
    saved[kFormatMember] = kFormat;
    saved[kTaskMember] = task;
    saved[kCheckMember] = checkOf(task);
    return AtomicFile::write(file, writeCompactJson(saved), 0644, error);
}

bool Sidecar::remove(std::string& error) const
{
    if (std::remove(file.c_str()) == 0 || errno == ENOENT)
        return true;
    error = std::strerror(errno);
    return false;
}
