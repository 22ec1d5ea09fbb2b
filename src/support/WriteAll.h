// writeAll: writes every byte to a descriptor, going on after short writes and interrupted ones.
// False when a write fails (errno says why) or writes nothing.
//
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>

bool writeAll(int fd, const char* bytes, size_t size);

inline bool writeAll(int fd, const std::string& bytes)
{
    return writeAll(fd, bytes.data(), bytes.size());
}
