// Whole files that a failure never damages: the new contents are written apart (see OutputFile),
// synced, and take the file's name in one step; the folder is synced after. Used for every
// settings file, CDAZ file and stored upload.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "tamrin_common/output_file.h"

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

// Replaces `path` with `bytes` (mode 0644). False, with `path` as it was, no temporary file left
// and the reason in `error` when given, when any step fails.
inline bool replaceFile(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                        std::string* error = nullptr)
{
    OutputFile file;
    std::string reason;
    const bool done = file.create(path, reason, OutputFile::Durability::Synced, 0644, true) &&
                      file.write(bytes.data(), bytes.size(), reason) && file.commit(reason);
    if (!done && error)
        *error = reason;
    return done;
}

inline bool replaceFile(const std::filesystem::path& path, std::string_view text, std::string* error = nullptr)
{
    return replaceFile(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, error);
}

} // namespace tamrin_common
