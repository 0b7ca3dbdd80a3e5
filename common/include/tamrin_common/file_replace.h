// Writing files so that a failure never damages what was there: the bytes go to a temporary file
// beside the target, which is synced and renamed over it (the folder is synced after). Used for
// every settings file, CDAZ file and stored upload.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tamrin_common {

// Writes all `size` bytes to `fd`, again after interruptions; false on any failure.
inline bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        data += wrote;
        size -= size_t(wrote);
    }
    return true;
}

// Replaces `path` with `bytes` (mode 0644). False, with `path` as it was and no temporary file
// left, when any step fails.
inline bool replaceFile(const std::filesystem::path& path, std::span<const uint8_t> bytes)
{
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    std::string temporary = folder.string();
    temporary.append("/.").append(path.filename().string()).append(".XXXXXX");
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

inline bool replaceFile(const std::filesystem::path& path, std::string_view text)
{
    return replaceFile(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

} // namespace tamrin_common
