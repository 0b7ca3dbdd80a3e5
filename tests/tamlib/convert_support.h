// What the file writer tests share: a scratch folder per test and whole-file reads and writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "scratch_folder.h"

namespace converttest {

namespace fs = std::filesystem;

class TempFolder : public testsupport::ScratchFolder
{
  public:
    TempFolder() : ScratchFolder("convert") {}
};

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace converttest
