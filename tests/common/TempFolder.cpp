#include "common/TempFolder.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zv-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    root = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::filesystem::path TempFolder::writeFile(const std::string& name, const std::string& bytes) const
{
    const std::filesystem::path file = root / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

std::string TempFolder::readFile(const std::filesystem::path& file)
{
    // Whole buffers, not a character at a time: tests and benchmarks compare many megabytes.
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string TempFolder::pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}
