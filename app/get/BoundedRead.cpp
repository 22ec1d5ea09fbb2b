#include "BoundedRead.h"

#include <filesystem>
#include <fstream>

bool readBounded(const std::string& file, size_t limit, std::string& text, std::string& error)
{
    std::error_code failure;
    const uintmax_t size = std::filesystem::file_size(file, failure);
    if (failure) {
        error = "cannot be read: " + failure.message();
        return false;
    }
    if (size > limit) {
        error = "is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    text.assign(static_cast<size_t>(size), '\0');
    if (!in.read(&text[0], static_cast<std::streamsize>(size))) {
        error = "cannot be read";
        return false;
    }
    return true;
}
