#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tamrin::cli {

std::optional<std::string> inputFileProblem(const std::string& path)
{
    if (path.empty())
        return std::string("empty file name");
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string(std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return std::string("is a directory");
    if (!S_ISREG(st.st_mode))
        return std::string("not a regular file");
    // Non-blocking, so that a file swapped for a pipe since the stat cannot hold us up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::string(std::strerror(errno));
    ::close(fd);
    return std::nullopt;
}

std::string rejectionMessage(const std::string& path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size == 0)
        return "no plugin accepts this file (it is empty)";
    return "no plugin accepts this file (not a format any plugin knows)";
}

} // namespace tamrin::cli
