// What the file writer tests share: a scratch folder per test and whole-file reads and writes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

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

// For a child process of a death test: the superuser becomes the unprivileged user "nobody", so
// that the permissions of folders apply to it as to anyone else.
inline void dropSuperuser()
{
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        std::_Exit(99);
}

inline void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace converttest
