// writeAll: writes every byte to a descriptor, going on after short writes and interrupted ones.
// False when a write fails (errno says why) or writes nothing.
//
// Stateless; any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

bool writeAll(int fd, const char* bytes, size_t size);
// The same at file offset `at` (pwrite): the descriptor's own position is left as it was.
bool writeAllAt(int fd, const char* bytes, size_t size, off_t at);

inline bool writeAll(int fd, const std::string& bytes)
{
    return writeAll(fd, bytes.data(), bytes.size());
}
