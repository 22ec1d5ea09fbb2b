#include "common/TempFolder.h"

#include <stdlib.h>

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
